#include "bench/AllocCounter.h"

#include <cstdlib>
#include <new>

// The replacement allocation functions of the program: the shared libraries'
// calls to operator new bind to these, so every C++ heap allocation of the
// process is counted. Single-threaded, like the agent, so a plain counter.
namespace {

std::uint64_t count = 0;

void* allocate(std::size_t n) {
  ++count;
  if (void* p = std::malloc(n ? n : 1))
    return p;
  throw std::bad_alloc();
}

void* allocateAligned(std::size_t n, std::align_val_t al) {
  ++count;
  std::size_t const a = static_cast<std::size_t>(al);
  if (void* p = std::aligned_alloc(a, (n + a - 1) / a * a))
    return p;
  throw std::bad_alloc();
}

}  // namespace

namespace Bench {
std::uint64_t allocations() noexcept {
  return count;
}
}  // namespace Bench

void* operator new(std::size_t n) {
  return allocate(n);
}
void* operator new[](std::size_t n) {
  return allocate(n);
}
void* operator new(std::size_t n, std::nothrow_t const&) noexcept {
  ++count;
  return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, std::nothrow_t const&) noexcept {
  ++count;
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
