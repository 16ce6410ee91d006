#include "tests/support/AllocCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

// The replacement allocation functions of the program: the shared libraries'
// calls to operator new bind to these, so every C++ heap allocation of the
// process is counted. The agent is single-threaded, but a metrics
// endpoint's threads allocate too, so the counter is atomic.
namespace {

std::atomic<std::uint64_t> count = 0;

void* allocate(std::size_t n) {
  count.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1))
    return p;
  throw std::bad_alloc();
}

void* allocateAligned(std::size_t n, std::align_val_t al) {
  count.fetch_add(1, std::memory_order_relaxed);
  std::size_t const a = static_cast<std::size_t>(al);
  if (void* p = std::aligned_alloc(a, (n + a - 1) / a * a))
    return p;
  throw std::bad_alloc();
}

}  // namespace

namespace TestSupport {
std::uint64_t allocations() noexcept {
  return count.load(std::memory_order_relaxed);
}
}  // namespace TestSupport

void* operator new(std::size_t n) {
  return allocate(n);
}
void* operator new[](std::size_t n) {
  return allocate(n);
}
void* operator new(std::size_t n, std::nothrow_t const&) noexcept {
  count.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, std::nothrow_t const&) noexcept {
  count.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(n ? n : 1);
}
void* operator new(std::size_t n, std::align_val_t al) {
  return allocateAligned(n, al);
}
void* operator new[](std::size_t n, std::align_val_t al) {
  return allocateAligned(n, al);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::nothrow_t const&) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::nothrow_t const&) noexcept {
  std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
