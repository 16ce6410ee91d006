#pragma once

#include <string>

namespace Bench {

// Registers the protodown benchmarks when a private network namespace can be
// made here; otherwise says why not and registers nothing.
bool registerProtodownBenchmarks(std::string* whyNot);

}  // namespace Bench
