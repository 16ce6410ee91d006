#pragma once

#include <cstdint>

namespace Bench {

// Heap allocations made through operator new by anything in this process
// (the agent and platform libraries included) since it started. Counted by
// the benchmark binary's own global allocation functions.
std::uint64_t allocations() noexcept;

}  // namespace Bench
