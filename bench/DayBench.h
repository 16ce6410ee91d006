#pragma once

#include <cstdint>
#include <string>

namespace Bench {

// A virtual day of a two-interface appliance: 43,200 poll cycles, one link
// flap every ten minutes (300 cycles), alternating between the interface
// with a CPU netdevice (disable and enable verdicts) and the one without
// (its internal transmitter written off and on). Includes the start-up.
struct DayResult {
  double wallSeconds = 0;
  std::uint64_t cycles = 0;
  std::uint64_t flaps = 0;
  std::uint64_t allocations = 0;
  bool ok = false;
};
DayResult runVirtualDay();

// The body of "agent_bench --virtual-day": runs the day in a process of its
// own and prints its result; the parent measures the process.
int virtualDayMain();

// Registers the day as an agenthost scenario when the host is built;
// otherwise says why not.
bool registerHostDayBenchmark(std::string* whyNot);

}  // namespace Bench
