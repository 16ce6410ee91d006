// soak: runs the agent on a simulated four-interface appliance for hours of
// virtual time under seeded random faults and checks, after every cycle that
// saw no fault, what the agent guarantees at that point. A violation prints
// the seed, the virtual time and the invariant, and exits 1.
//
//   soak [--seed N] [--hours H] [--netdevs auto|kernel|simulated]
//        [--trace SPEC] [--verbose]
//
// The CPU netdevices are real macvlans in a private network namespace when
// the soak may make one (root), and simulated otherwise; REQUIRE_NETNS_TESTS=1
// makes a missing namespace a failure.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/kiv/Trace.h"
#include "soak/Soak.h"

namespace {

int usage(char const* argv0) {
  std::fprintf(stderr,
               "usage: %s [--seed N] [--hours H] [--netdevs auto|kernel|simulated] "
               "[--trace SPEC] [--verbose]\n",
               argv0);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Soak::Options options;
  std::string netdevs = "auto";
  for (int i = 1; i < argc; ++i) {
    std::string const a = argv[i];
    auto value = [&]() -> char const* { return i + 1 < argc ? argv[++i] : nullptr; };
    char const* v = nullptr;
    char* end = nullptr;
    if (a == "--seed" && (v = value())) {
      options.seed = std::strtoull(v, &end, 0);
    } else if (a == "--hours" && (v = value())) {
      options.hours = std::strtod(v, &end);
      if (!(options.hours > 0))
        return usage(argv[0]);
    } else if (a == "--netdevs" && (v = value())) {
      netdevs = v;
      end = const_cast<char*>(v + std::strlen(v));
    } else if (a == "--trace" && (v = value())) {
      Kiv::TraceHandle::maskSpecIs(v);
      end = const_cast<char*>(v + std::strlen(v));
    } else if (a == "--verbose") {
      options.verbose = true;
      continue;
    } else {
      return usage(argv[0]);
    }
    if (!end || *end != '\0')
      return usage(argv[0]);
  }

  std::unique_ptr<Soak::CpuSide> cpu;
  std::string why;
  bool const required = [] {
    char const* r = std::getenv("REQUIRE_NETNS_TESTS");
    return r && std::string(r) == "1";
  }();
  if (netdevs == "kernel" || netdevs == "auto") {
    if (TestSupport::NetNamespace::available(&why)) {
      cpu = std::make_unique<Soak::KernelCpuSide>();
    } else if (netdevs == "kernel" || required) {
      std::fprintf(stderr, "soak: no network namespace: %s%s\n", why.c_str(),
                   required ? " (REQUIRE_NETNS_TESTS=1)" : "");
      return 1;
    } else {
      std::printf("soak: no network namespace (%s); CPU netdevices are simulated\n", why.c_str());
    }
  } else if (netdevs != "simulated") {
    return usage(argv[0]);
  }
  if (!cpu)
    cpu = std::make_unique<Soak::SimulatedCpuSide>();

  std::printf("soak: seed %llu, %g virtual hours, CPU netdevices: %s\n",
              static_cast<unsigned long long>(options.seed), options.hours,
              cpu->description().c_str());
  std::fflush(stdout);
  auto const started = std::chrono::steady_clock::now();
  try {
    auto const sum = Soak::run(options, *cpu);
    double const wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    unsigned faults = 0;
    for (auto const& [kind, n] : sum.faults)
      faults += n;
    std::printf("soak: %u cycles in %.0f s of virtual time, %.3f s of wall time\n", sum.cycles,
                sum.virtualSeconds, wall);
    std::printf(
        "soak: %u register transactions, %u register accesses and %u MII status reads "
        "on the chip\n",
        sum.transactions, sum.registerAccesses, sum.miiStatusReads);
    std::printf("soak: %u faults injected:\n", faults);
    for (auto const& [kind, n] : sum.faults)
      std::printf("  %7u  %s\n", n, kind.c_str());
    std::printf("soak: %u cycles without faults checked:\n", sum.checkedCycles);
    for (auto const& [invariant, n] : sum.checks)
      std::printf("  %7u  %s\n", n, invariant.c_str());
    std::printf("soak: passed (seed %llu)\n", static_cast<unsigned long long>(options.seed));
    return 0;
  } catch (Soak::Violation const& v) {
    std::printf("soak: FAILED: %s\n", v.what());
    std::printf("soak: reproduce with: make soak SEED=%llu HOURS=%g\n",
                static_cast<unsigned long long>(options.seed), options.hours);
    return 1;
  }
}
