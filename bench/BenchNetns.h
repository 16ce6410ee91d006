#pragma once

#include <benchmark/benchmark.h>

#include "tests/support/Netns.h"

namespace Bench {

// The benchmarks' private network namespace: a veth pair v0/v1 and mgmt1, a
// macvlan on v0, all up. Made on first use and entered by this thread; null
// (and the benchmark skipped with the reason) when it cannot be made.
TestSupport::NetNamespace* benchNetns(benchmark::State& st);
// Leaves and deletes the namespace, if one was made.
void benchNetnsTeardown();

// Registers a benchmark of a call into the kernel, in wall time. The
// kernel's share varies with whatever else the machine is doing: more
// repetitions than elsewhere, so that their median is steady.
void registerKernelBenchmark(char const* name, void (*fn)(benchmark::State&));

}  // namespace Bench
