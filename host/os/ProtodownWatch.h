#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/os/KernelLink.h"

namespace Host {

// Watches the kernel's protodown of named netdevices through rtnetlink, in
// the network namespace the host is in when it is made: one dump at start,
// then the kernel's link notifications, read on the event loop. Reports a
// device only when what the kernel shows of it changes (another device of
// that name, its kind, protodown, its reason bits, or gone). A device
// renamed away is gone; one given the name appears.
//
// The kernel's word is never lost for good: when its notifications overrun
// the socket's receive buffer (ENOBUFS), the buffer grows and the kernel is
// asked for a fresh dump; an interrupted dump (NLM_F_DUMP_INTR) is asked
// again; an error answer is reported. A device the complete dump does not
// show is gone.
class ProtodownWatch {
 public:
  // The kernel's view of `netdev`; empty when it has no device of that name.
  using OnChange = std::function<void(std::string const& netdev, KernelLink const* link)>;
  using Report = std::function<void(std::string const&)>;
  // The receive buffer the socket starts with: room for a burst of link
  // messages (each up to about 1.5 KiB) while the loop is busy.
  static constexpr int kReceiveBuffer = 1 << 20;
  static constexpr int kReceiveBufferMax = 8 << 20;

  // Throws std::runtime_error when the netlink socket cannot be had.
  ProtodownWatch(std::set<std::string> netdevs, OnChange onChange, Report report = {},
                 int receiveBuffer = kReceiveBuffer);
  ~ProtodownWatch();
  ProtodownWatch(ProtodownWatch const&) = delete;
  ProtodownWatch& operator=(ProtodownWatch const&) = delete;

  // Another device to watch (a management interface added later); asks
  // the kernel again.
  void netdevAdd(std::string const& netdev);
  // Asks the kernel again: it sends no notification when the protodown of
  // a netdevice that is down changes. Answered through the loop.
  void refresh() { dump(); }
  // Told each time a complete dump has been read: from then on the view of
  // every watched device is the kernel's as of that dump or later.
  void syncedIs(std::function<void()> f) { synced_ = std::move(f); }

  // What the watch shows of a device now (null: none of that name).
  KernelLink const* shown(std::string const& netdev) const;
  // Overruns of the receive buffer so far, and its size now.
  std::uint64_t overruns() const noexcept { return overruns_; }
  int receiveBuffer() const noexcept { return receiveBuffer_; }

 private:
  void readable();
  void overrun();
  void received(unsigned char const* data, std::size_t size);
  void linkIs(LinkMessage const& m);
  void show(std::string const& netdev, std::optional<KernelLink> link);
  void dumpDone(bool complete);
  void dump();
  void receiveBufferIs(int bytes);

  std::set<std::string> netdevs_;
  OnChange onChange_;
  Report report_;
  std::function<void()> synced_;
  std::map<std::string, std::optional<KernelLink>> shown_;
  int fd_ = -1;
  int receiveBuffer_ = 0;
  std::uint64_t overruns_ = 0;
  std::uint32_t seq_ = 0;
  bool dumping_ = false;            // a dump asked for and not yet done
  bool dumpAgain_ = false;          // another one wanted after it
  bool interrupted_ = false;        // the kernel said the running dump is inconsistent
  std::set<std::string> dumped_;    // the watched names the running dump showed
  std::vector<unsigned char> buf_;  // one datagram from the kernel
};

}  // namespace Host
