#include "host/os/PrivateNetns.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "host/os/Command.h"

namespace Host {

namespace {

std::string sysError(std::string const& what) {
  return what + ": " + std::strerror(errno);
}

void writeProcFile(std::string const& path, std::string const& text) {
  std::ofstream f(path);
  f << text;
  f.flush();
  if (!f)
    throw std::runtime_error("cannot write " + path);
}

}  // namespace

bool runningAsRoot() {
  return ::geteuid() == 0;
}

std::unique_ptr<PrivateNetns> PrivateNetns::make(std::string const& name,
                                                 std::vector<std::string> const& netdevs,
                                                 bool keep) {
  std::unique_ptr<PrivateNetns> ns(new PrivateNetns());
  if (runningAsRoot()) {
    std::string out;
    if (runProgram({"ip", "-V"}, &out) != 0)
      throw std::runtime_error("iproute2 (the ip command) is not installed");
    if (runProgram({"ip", "netns", "list"}, &out) == 0) {
      for (std::size_t pos = 0; (pos = out.find(name, pos)) != std::string::npos; ++pos) {
        bool start = pos == 0 || out[pos - 1] == '\n';
        char after = pos + name.size() < out.size() ? out[pos + name.size()] : '\n';
        if (start && (after == '\n' || after == ' ')) {
          throw std::runtime_error("a network namespace named " + name +
                                   " exists already (remove it with: ip netns del " + name + ")");
        }
      }
    }
    ipOrThrow({"netns", "add", name});
    ns->name_ = name;
    ns->named_ = true;
    ns->ownNs_ = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    int fd = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (ns->ownNs_ < 0 || fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
      std::string why = sysError("cannot enter network namespace " + name);
      if (fd >= 0)
        ::close(fd);
      throw std::runtime_error(why);  // the destructor deletes the namespace
    }
    ::close(fd);
  } else {
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
      throw std::runtime_error(sysError("cannot make a user and network namespace (unshare)"));
    // Root inside the new user namespace, so that the ip commands run for
    // it keep the capabilities over the new network namespace.
    writeProcFile("/proc/self/setgroups", "deny");
    writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
    writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    ns->name_ = "pid " + std::to_string(::getpid());
  }
  ipOrThrow({"link", "set", "lo", "up"});
  ns->makeParent();
  for (auto const& d : netdevs)
    ns->netdevAdd(d);
  ns->keep_ = keep;  // only a complete namespace is kept
  return ns;
}

void PrivateNetns::makeParent() {
  std::string out;
  if (runProgram({"ip", "link", "add", "agh-parent", "type", "dummy"}, &out) == 0) {
    parent_ = "agh-parent";
  } else {
    // Kernels without the dummy driver: one end of a veth pair serves.
    ipOrThrow({"link", "add", "agh-parent", "type", "veth", "peer", "name", "agh-peer"});
    ipOrThrow({"link", "set", "agh-peer", "up"});
    parent_ = "agh-parent";
  }
  ipOrThrow({"link", "set", parent_, "up"});
}

void PrivateNetns::nameRelease() {
  if (!named_ || nameReleased_)
    return;
  keep_ = false;
  nameReleased_ = runProgram({"ip", "netns", "del", name_}) == 0;
}

void PrivateNetns::netdevAdd(std::string const& dev) {
  if (std::find(netdevs_.begin(), netdevs_.end(), dev) != netdevs_.end())
    return;
  ipOrThrow({"link", "add", dev, "link", parent_, "type", "macvlan", "mode", "bridge"});
  ipOrThrow({"link", "set", dev, "up"});
  netdevs_.push_back(dev);
}

bool PrivateNetns::netdevDel(std::string const& dev) {
  auto it = std::find(netdevs_.begin(), netdevs_.end(), dev);
  if (it == netdevs_.end() || runProgram({"ip", "link", "del", dev}) != 0)
    return false;
  netdevs_.erase(it);
  return true;
}

std::optional<bool> PrivateNetns::protodown(std::string const& dev, std::string* why) const {
  std::string out;
  if (runProgram({"ip", "-d", "link", "show", "dev", dev}, &out) != 0) {
    if (why) {
      while (!out.empty() && out.back() == '\n')
        out.pop_back();
      *why = out;
    }
    return std::nullopt;
  }
  return out.find("protodown on") != std::string::npos;
}

std::string PrivateNetns::inspectCommand() const {
  if (named_ && !nameReleased_)
    return "ip -n " + name_ + " -d link show";
  if (named_)
    return "nsenter -t " + std::to_string(::getpid()) + " -n ip -d link show";
  return "nsenter -t " + std::to_string(::getpid()) +
         " -U -n --preserve-credentials ip -d link show";
}

std::string PrivateNetns::describe() const {
  std::string devs;
  for (auto const& d : netdevs_)
    devs += (devs.empty() ? "" : ", ") + d;
  std::string r = !named_ ? "private network namespace in a user namespace (unnamed, " + name_ + ")"
                  : nameReleased_ ? "private network namespace (" + name_ + ", unnamed once made)"
                                  : "private network namespace " + name_;
  r += ": macvlan " + (devs.empty() ? std::string("none") : devs) + " over " + parent_;
  return r;
}

PrivateNetns::~PrivateNetns() {
  if (!named_)
    return;
  if (ownNs_ >= 0) {
    ::setns(ownNs_, CLONE_NEWNET);
    ::close(ownNs_);
  }
  if (!keep_ && !nameReleased_)
    runProgram({"ip", "netns", "del", name_});
}

}  // namespace Host
