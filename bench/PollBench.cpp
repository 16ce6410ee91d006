// The agent's poll cycle on the simulated chip in virtual time: the steady
// cycle, the first cycle with its writes, a cycle with a link down, and the
// cost of a trace statement whose level is off.
#include <benchmark/benchmark.h>

#include "bench/Appliance.h"
#include "bench/Bench.h"
#include "bench/Trace.h"
#include "platform/kiv/EventLoop.h"
#include "platform/lanx/IntfId.h"

namespace Bench {

namespace {

using Chip = Appliance::Chip;

// Per-cycle counters: heap allocations, MII status reads, register accesses,
// trace lines, and the bus time those accesses take on a 2.5 MHz MDIO bus.
class CycleCounters {
 public:
  CycleCounters(Appliance const& app, CountingSink const& sink)
      : app_(app),
        sink_(sink),
        allocs_(allocations()),
        mii_(app.chip->miiStatusReadsTotal()),
        regs_(app.chip->registerAccesses()),
        lines_(sink.lines) {}
  void report(benchmark::State& st) const {
    auto const mii = app_.chip->miiStatusReadsTotal() - mii_;
    auto const regs = app_.chip->registerAccesses() - regs_;
    st.counters["allocs"] = perIteration(static_cast<double>(allocations() - allocs_));
    st.counters["mii"] = perIteration(mii);
    st.counters["regs"] = perIteration(regs);
    st.counters["lines"] = perIteration(static_cast<double>(sink_.lines - lines_));
    st.counters["bus_us"] = perIteration((mii + regs) * kFrameMicroseconds);
  }

 private:
  Appliance const& app_;
  CountingSink const& sink_;
  std::uint64_t allocs_;
  unsigned mii_, regs_;
  std::uint64_t lines_;
};

char const* traceSpec(benchmark::State const& st) {
  return st.range(1) ? kAgentLevels01 : nullptr;
}

void traceLabel(benchmark::State& st, char const* what) {
  st.SetLabel(std::string(what) + (st.range(1) ? ", trace 0+1 on" : ", trace off"));
}

// Every record valid, nothing to write, every link up: one cycle per poll
// period, all of it at one virtual instant.
void steadyCycle(benchmark::State& st, Appliance::Transport transport) {
  TraceScope trace(traceSpec(st));
  Appliance app(static_cast<unsigned>(st.range(0)), transport);
  if (!app.settle()) {
    st.SkipWithError("the appliance did not settle");
    return;
  }
  auto& loop = Kiv::EventLoop::instance();
  Kiv::Seconds const period = app.sm().pollPeriod();
  CycleCounters const counters(app, trace.sink);
  for (auto _ : st)
    loop.advance(period);
  counters.report(st);
  traceLabel(st, transport == Appliance::Transport::sim         ? "steady"
                 : transport == Appliance::Transport::miiIoctl  ? "steady, MII ioctl bus"
                 : transport == Appliance::Transport::recording ? "steady, bus record written"
                                                                : "steady, bus recorder off");
}
void BM_SteadyCycle(benchmark::State& st) {
  steadyCycle(st, Appliance::Transport::sim);
}
BENCHMARK(BM_SteadyCycle)
    ->ArgNames({"N", "trace"})
    ->ArgsProduct({{1, 2, 4, 8}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// The same over the MII ioctl bus, its system call answered from the chip's
// registers: what the real transport adds in software (the socket's ioctl
// itself, the kernel's and the driver's share, is BM_MiiIoctl*).
void BM_SteadyCycleMiiIoctl(benchmark::State& st) {
  steadyCycle(st, Appliance::Transport::miiIoctl);
}
BENCHMARK(BM_SteadyCycleMiiIoctl)
    ->ArgNames({"N", "trace"})
    ->ArgsProduct({{1, 2, 4, 8}, {0}})
    ->Unit(benchmark::kMicrosecond);

// The same behind the bus recorder, off and writing a record: what a field
// record costs the cycle (formatting each access into the buffer, and a
// write every 64 KiB).
void BM_SteadyCycleRecorder(benchmark::State& st) {
  steadyCycle(st,
              st.range(2) ? Appliance::Transport::recording : Appliance::Transport::recorderOff);
}
BENCHMARK(BM_SteadyCycleRecorder)
    ->ArgNames({"N", "trace", "recording"})
    ->ArgsProduct({{2, 8}, {0}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// The first cycle: the register records are made afresh, every managed
// register is read (at power-on value 0) and then written. Each iteration
// restores the power-on values behind the agent's back and asks for the
// re-reading cycle the agent makes at start-up.
void BM_FirstCycle(benchmark::State& st) {
  TraceScope trace(traceSpec(st));
  unsigned const n = static_cast<unsigned>(st.range(0));
  Appliance app(n);
  if (!app.settle()) {
    st.SkipWithError("the appliance did not settle");
    return;
  }
  CycleCounters const counters(app, trace.sink);
  auto const writesBefore = app.chip->registerWrites();
  for (auto _ : st) {
    for (unsigned k = 0; k < n; ++k) {
      for (auto port : {Appliance::externalPort(k), Appliance::internalPort(k)}) {
        app.chip->regIs(port, Chip::kExtCtrl, 0);
        app.chip->regIs(port, Chip::kAuxCtrl, 0);
      }
    }
    app.sm().repollingNeededIs(true);
    if (!app.runCycle()) {
      st.SkipWithError("a cycle did not complete");
      return;
    }
  }
  counters.report(st);
  st.counters["writes"] = perIteration(app.chip->registerWrites() - writesBefore);
  traceLabel(st, "records made, all read, all written");
}
BENCHMARK(BM_FirstCycle)
    ->ArgNames({"N", "trace"})
    ->ArgsProduct({{1, 2, 4, 8}, {0}})
    ->Unit(benchmark::kMicrosecond);

// Two interfaces; Management1's external link stays down: six MII reads of
// its port, one of the other, and a disable verdict for mgmt1 each cycle,
// which the manager answers at once as the interface is already disabled.
void BM_LinkDownCycle(benchmark::State& st) {
  TraceScope trace(traceSpec(st));
  Appliance app(2);
  app.chip->linkIs(Appliance::externalPort(0), false);
  if (!app.settle()) {
    st.SkipWithError("the appliance did not settle");
    return;
  }
  auto& loop = Kiv::EventLoop::instance();
  Kiv::Seconds const period = app.sm().pollPeriod();
  CycleCounters const counters(app, trace.sink);
  for (auto _ : st)
    loop.advance(period);
  counters.report(st);
  traceLabel(st, "link down, disable verdict");
}
BENCHMARK(BM_LinkDownCycle)
    ->ArgNames({"N", "trace"})
    ->Args({2, 0})
    ->Args({2, 1})
    ->Unit(benchmark::kMicrosecond);

// One of the agent's per-interface level-1 lines, with its level off and on
// (into the counting sink).
void BM_TraceStatement(benchmark::State& st) {
  static Kiv::TraceHandle handle("BenchTrace");
  TraceScope trace(st.range(0) ? "BenchTrace/1" : nullptr);
  Lanx::IntfId const id("Management1");
  int const object = 0;
  std::uint64_t const allocsBefore = allocations();
  for (auto _ : st) {
    KIV_TRACE(handle, 1) << static_cast<void const*>(&object) << "::processLinkStatuses"
                         << ": interface " << id << " current external control: 0x" << 0x1000u
                         << " control config: 0x" << 0x1000u;
    benchmark::ClobberMemory();
  }
  st.counters["allocs"] = perIteration(static_cast<double>(allocations() - allocsBefore));
  st.counters["lines"] = perIteration(static_cast<double>(trace.sink.lines));
  st.SetLabel(st.range(0) ? "level on" : "level off");
}
BENCHMARK(BM_TraceStatement)->ArgName("on")->Arg(0)->Arg(1);

}  // namespace

}  // namespace Bench
