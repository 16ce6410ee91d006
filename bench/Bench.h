#pragma once

#include <benchmark/benchmark.h>

#include "tests/support/AllocCounter.h"

namespace Bench {

using TestSupport::allocations;

// One clause-22 MDIO frame at 2.5 MHz, in microseconds.
inline constexpr double kFrameMicroseconds = 25.6;

inline benchmark::Counter perIteration(double v) {
  return benchmark::Counter(v, benchmark::Counter::kAvgIterations);
}

}  // namespace Bench
