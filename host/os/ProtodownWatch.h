#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace Host {

// Watches the kernel's protodown of named netdevices through rtnetlink, in
// the network namespace the host is in when it is made: one dump at start,
// then the kernel's link notifications, read on the event loop. Reports a
// device only when what the kernel shows of it changes (on, off, or gone).
class ProtodownWatch {
 public:
  using OnChange = std::function<void(std::string const& netdev, std::optional<bool> protodown)>;
  // Throws std::runtime_error when the netlink socket cannot be had.
  ProtodownWatch(std::set<std::string> netdevs, OnChange onChange);
  ~ProtodownWatch();
  ProtodownWatch(ProtodownWatch const&) = delete;
  ProtodownWatch& operator=(ProtodownWatch const&) = delete;

  // Another device to watch (a management interface added later); asks
  // the kernel again.
  void netdevAdd(std::string const& netdev);
  // Asks the kernel again: it sends no notification when the protodown of
  // a netdevice that is down changes.
  void refresh() { dump(); }

 private:
  void readable();
  void received(void const* data, std::size_t size);
  void dump();

  std::set<std::string> netdevs_;
  OnChange onChange_;
  std::map<std::string, std::optional<bool>> shown_;
  int fd_ = -1;
  std::vector<unsigned char> buf_;  // one datagram from the kernel
};

}  // namespace Host
