#pragma once

#include <string>

namespace Bench {

// Registers the MII ioctl round-trip benchmarks when a private network
// namespace can be made here; otherwise says why not and registers nothing.
bool registerMdioBenchmarks(std::string* whyNot);

}  // namespace Bench
