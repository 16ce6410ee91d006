#pragma once

#include <cstdint>

namespace TestSupport {

// Heap allocations made through operator new by anything in this process
// (the agent and platform libraries included) since it started. Counted by
// the global allocation functions of tests/support/AllocCounter.cpp, which a
// binary gets by linking testsupport_alloc; a binary without them has no
// counter.
std::uint64_t allocations() noexcept;

}  // namespace TestSupport
