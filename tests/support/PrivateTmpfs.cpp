#include "tests/support/PrivateTmpfs.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace TestSupport {

PrivateTmpfs::PrivateTmpfs(std::string d) : dir(std::move(d)) {
  if (::geteuid() != 0)
    why = "not root";
  else if (::unshare(CLONE_NEWNS) != 0 ||
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
           ::mount("agenthost-test", dir.c_str(), "tmpfs", 0, "size=256k") != 0)
    why = std::strerror(errno);
}

PrivateTmpfs::~PrivateTmpfs() {
  if (why.empty())
    ::umount2(dir.c_str(), MNT_DETACH);
}

void PrivateTmpfs::fill() const {
  std::FILE* f = std::fopen((dir + "/filler").c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::string block(4096, 'x');
  while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
  }
  std::fclose(f);
}

void PrivateTmpfs::free() const {
  ::unlink((dir + "/filler").c_str());
}

bool PrivateTmpfs::usable() const {
  if (why.empty())
    return true;
  char const* req = std::getenv("REQUIRE_NETNS_TESTS");
  if (req && std::string(req) == "1")
    ADD_FAILURE() << "REQUIRE_NETNS_TESTS=1 but no private tmpfs: " << why;
  else
    std::printf("skipped: no private tmpfs: %s\n", why.c_str());
  return false;
}

}  // namespace TestSupport
