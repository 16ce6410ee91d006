#include "bench/BenchNetns.h"

#include <memory>

namespace Bench {

namespace {
std::unique_ptr<TestSupport::NetNamespace> ns;
}  // namespace

TestSupport::NetNamespace* benchNetns(benchmark::State& st) {
  if (ns)
    return ns.get();
  try {
    ns = std::make_unique<TestSupport::NetNamespace>();
    ns->ip("link add v0 type veth peer name v1");
    ns->ip("link add link v0 name mgmt1 type macvlan mode bridge");
    ns->ip("link set v0 up");
    ns->ip("link set mgmt1 up");
  } catch (std::exception const& e) {
    ns.reset();
    st.SkipWithError(e.what());
  }
  return ns.get();
}

void benchNetnsTeardown() {
  ns.reset();
}

void registerKernelBenchmark(char const* name, void (*fn)(benchmark::State&)) {
  benchmark::RegisterBenchmark(name, fn)->UseRealTime()->Repetitions(9)->Unit(
      benchmark::kMicrosecond);
}

}  // namespace Bench
