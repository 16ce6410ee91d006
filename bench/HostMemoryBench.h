#pragma once

#include <string>

namespace Bench {

// Registers the host's resident-memory benchmarks when the host is built
// (otherwise says why not): the host in production mode (real time, the
// shipped appliance, BENCH_HOST_SECONDS of polling, 60 by default) without
// and with metrics served and scraped, and `agenthost --help`.
bool registerHostMemoryBenchmarks(std::string* whyNot);

}  // namespace Bench
