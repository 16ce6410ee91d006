#include "tests/support/Netns.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <stdexcept>

namespace TestSupport {

int runCommand(std::string const& cmd, std::string* output) {
  std::string full = cmd + " 2>&1";
  FILE* p = ::popen(full.c_str(), "r");
  if (!p)
    return -1;
  std::array<char, 4096> buf;
  std::string out;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0)
    out.append(buf.data(), n);
  int status = ::pclose(p);
  if (output)
    *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool NetNamespace::available(std::string* why) {
  if (::geteuid() != 0) {
    *why = "not running as root (CAP_NET_ADMIN needed)";
    return false;
  }
  std::string out;
  if (runCommand("ip -V", &out) != 0) {
    *why = "iproute2 (ip) is not installed";
    return false;
  }
  std::string name = "kivprobe" + std::to_string(::getpid());
  if (runCommand("ip netns add " + name, &out) != 0) {
    *why = "ip netns add failed: " + out;
    return false;
  }
  runCommand("ip netns del " + name, nullptr);
  return true;
}

NetNamespace::NetNamespace() {
  static int counter = 0;
  name_ = "kivt" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
  std::string out;
  if (runCommand("ip netns add " + name_, &out) != 0) {
    throw std::runtime_error("ip netns add " + name_ + " failed: " + out);
  }
  ownNs_ = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
  int fd = ::open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
  if (ownNs_ < 0 || fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
    if (fd >= 0)
      ::close(fd);
    runCommand("ip netns del " + name_, nullptr);
    throw std::runtime_error("cannot enter network namespace " + name_);
  }
  ::close(fd);
  ip("link set lo up");
}

NetNamespace::~NetNamespace() {
  if (ownNs_ >= 0) {
    ::setns(ownNs_, CLONE_NEWNET);
    ::close(ownNs_);
  }
  runCommand("ip netns del " + name_, nullptr);
}

std::string NetNamespace::ip(std::string const& args) const {
  std::string out;
  std::string cmd = "ip -n " + name_ + " " + args;
  if (runCommand(cmd, &out) != 0)
    throw std::runtime_error(cmd + " failed: " + out);
  return out;
}

bool NetNamespace::protodown(std::string const& dev) const {
  auto out = ip("-d link show dev " + dev);
  return out.find("protodown on") != std::string::npos;
}

}  // namespace TestSupport
