#pragma once

#include <string>

namespace TestSupport {

// A small tmpfs over `dir`, in a mount namespace of this test process's own
// (and so of the processes it starts), so that nothing of it is seen
// outside; unmounted when the object goes. `why` says why there is none,
// and is empty once it is mounted.
struct PrivateTmpfs {
  explicit PrivateTmpfs(std::string d);
  ~PrivateTmpfs();
  PrivateTmpfs(PrivateTmpfs const&) = delete;
  PrivateTmpfs& operator=(PrivateTmpfs const&) = delete;
  // Writes a file until the file system has no room left.
  void fill() const;
  void free() const;
  // Skips the test, or fails it where REQUIRE_NETNS_TESTS=1 asks for every
  // test to run; true when the test is to go on.
  bool usable() const;
  std::string dir, why;
};

}  // namespace TestSupport
