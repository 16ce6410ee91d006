// The virtual day: wall time in this process, and wall time and peak
// resident memory of a process that does nothing else.
#include "bench/DayBench.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "bench/Appliance.h"
#include "bench/Bench.h"
#include "bench/Child.h"

namespace Bench {

namespace {

constexpr std::uint64_t kCycles = 43'200;
constexpr std::uint64_t kFlapEvery = 300;  // cycles: ten minutes
constexpr std::uint64_t kFlapLength = 3;   // cycles the link stays down
// This program, as a child sees it before it execs.
constexpr char const* kSelf = "/proc/self/exe";

}  // namespace

DayResult runVirtualDay() {
  DayResult r;
  auto const allocsBefore = allocations();
  auto const t0 = std::chrono::steady_clock::now();
  {
    Appliance app(2);
    r.ok = app.settle();
    for (std::uint64_t c = 0; r.ok && c < kCycles; ++c) {
      auto const phase = c % kFlapEvery;
      auto const port = Appliance::externalPort(static_cast<unsigned>((c / kFlapEvery) % 2));
      if (phase == kFlapEvery / 2) {
        app.chip->linkIs(port, false);
        ++r.flaps;
      } else if (phase == kFlapEvery / 2 + kFlapLength) {
        app.chip->linkIs(port, true);
      }
      r.ok = app.runCycle();
      r.cycles += r.ok;
    }
  }
  r.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  r.allocations = allocations() - allocsBefore;
  return r;
}

int virtualDayMain() {
  DayResult const r = runVirtualDay();
  std::printf("%.6f %llu %llu %llu\n", r.wallSeconds, static_cast<unsigned long long>(r.cycles),
              static_cast<unsigned long long>(r.flaps),
              static_cast<unsigned long long>(r.allocations));
  return r.ok ? 0 : 1;
}

namespace {

void BM_VirtualDay(benchmark::State& st) {
  DayResult r;
  for (auto _ : st)
    r = runVirtualDay();
  if (!r.ok) {
    st.SkipWithError("a cycle of the day did not complete");
    return;
  }
  st.counters["cycles"] = static_cast<double>(r.cycles);
  st.counters["flaps"] = static_cast<double>(r.flaps);
  st.counters["allocs_per_cycle"] = static_cast<double>(r.allocations) / r.cycles;
  st.SetLabel("in this process, 43,200 cycles, a flap every 10 min");
}
BENCHMARK(BM_VirtualDay)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// Runs a command as a child (stdout on /dev/null) and measures it.
ChildRun runChild(char const* const argv[]) {
  return Bench::runChild(const_cast<char* const*>(argv), false);
}

void BM_VirtualDayProcess(benchmark::State& st) {
  ChildRun r;
  for (auto _ : st) {
    char const* const argv[] = {kSelf, "--virtual-day", nullptr};
    r = runChild(argv);
    st.SetIterationTime(r.wallSeconds);
  }
  if (!r.ok) {
    st.SkipWithError("the virtual-day child failed");
    return;
  }
  st.counters["rss_mib"] = r.peakRssMib;
  st.counters["child_cpu_s"] = r.cpuSeconds;
  st.SetLabel("agent_bench --virtual-day as a child: whole process");
}
BENCHMARK(BM_VirtualDayProcess)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The same day as an agenthost scenario: the shipped two-interface appliance,
// the simulated CPU interface manager, the same flaps, each checked while the
// link is down and once the day is over.
std::string hostDayScenario() {
  std::string s =
      "name: a virtual day\n"
      "appliance:\n"
      "  switch:\n"
      "    ham: true\n"
      "    managementInterfaces:\n"
      "      - {intfId: Management1, cpuInterface: mgmt1, externalPort: 1, internalPort: 5}\n"
      "      - {intfId: Management2, externalPort: 2, internalPort: 6}\n"
      "  interfaceConfig:\n"
      "    slice1: {Management1: enabled, Management2: enabled}\n"
      "  chip:\n"
      "    links: {1: up, 2: up}\n"
      "end: 86400\n"
      "steps:\n";
  constexpr unsigned kFlapSeconds = 2 * kFlapEvery;
  for (unsigned t = kFlapSeconds / 2, i = 0; t < 86400; t += kFlapSeconds, ++i) {
    std::string const port = std::to_string(Appliance::externalPort(i % 2));
    auto step = [&](unsigned at, std::string const& what) {
      s += "  - at: " + std::to_string(at) + "\n    " + what + "\n";
    };
    step(t, "link: {port: " + port + ", state: down}");
    step(t + 3, "expect: {port: " + port + ", linkStatus: 0}");
    step(t + 2 * kFlapLength, "link: {port: " + port + ", state: up}");
  }
  s += "  - at: 86400\n    expect: {port: 1, linkStatus: 1}\n";
  s += "  - at: 86400\n    expect: {port: 2, linkStatus: 1}\n";
  return s;
}

#ifdef BENCH_AGENTHOST
void BM_HostDay(benchmark::State& st) {
  char path[] = "/tmp/agent_bench_dayXXXXXX.yaml";
  int fd = ::mkstemps(path, 5);
  if (fd < 0) {
    st.SkipWithError("cannot write the scenario file");
    return;
  }
  std::string const text = hostDayScenario();
  bool const written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  ChildRun r;
  if (written) {
    for (auto _ : st) {
      char const* const argv[] = {BENCH_AGENTHOST, "--sim-cpu", "--scenario", path, nullptr};
      r = runChild(argv);
      st.SetIterationTime(r.wallSeconds);
    }
  }
  ::unlink(path);
  if (!r.ok) {
    st.SkipWithError("agenthost did not run the scenario to a pass");
    return;
  }
  st.counters["rss_mib"] = r.peakRssMib;
  st.counters["child_cpu_s"] = r.cpuSeconds;
  st.SetLabel("agenthost --sim-cpu --scenario (a day): whole process");
}
#endif

}  // namespace

bool registerHostDayBenchmark(std::string* whyNot) {
#ifdef BENCH_AGENTHOST
  if (::access(BENCH_AGENTHOST, X_OK) != 0) {
    *whyNot = BENCH_AGENTHOST " is not built";
    return false;
  }
  benchmark::RegisterBenchmark("BM_HostDay", BM_HostDay)
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
  return true;
#else
  *whyNot = "this build has no agenthost";
  return false;
#endif
}

}  // namespace Bench
