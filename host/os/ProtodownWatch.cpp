#include "host/os/ProtodownWatch.h"

#include <libmnl/libmnl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/kiv/EventLoop.h"

namespace Host {

// libmnl builds and walks the messages; the socket itself is a plain
// descriptor, so that the loop polls it and the sender of each datagram is
// checked (only the kernel speaks for the kernel).

ProtodownWatch::ProtodownWatch(std::set<std::string> netdevs, OnChange onChange, Report report,
                               int receiveBuffer)
    : netdevs_(std::move(netdevs)), onChange_(std::move(onChange)), report_(std::move(report)) {
  fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
  if (fd_ < 0)
    throw std::runtime_error(std::string("rtnetlink: ") + std::strerror(errno));
  sockaddr_nl local{};
  local.nl_family = AF_NETLINK;
  int const group = RTNLGRP_LINK;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0 ||
      ::setsockopt(fd_, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group) < 0) {
    int const e = errno;
    ::close(fd_);
    throw std::runtime_error(std::string("rtnetlink: ") + std::strerror(e));
  }
  receiveBufferIs(receiveBuffer);
  Kiv::EventLoop::instance().fdWatchIs(fd_, [this] { readable(); });
  dump();
}

ProtodownWatch::~ProtodownWatch() {
  Kiv::EventLoop::instance().fdWatchDel(fd_);
  ::close(fd_);
}

// As large as asked where the process may (CAP_NET_ADMIN), else as large as
// the system's limit for everyone allows; the size the kernel granted is
// kept (it doubles what it is given, for its own bookkeeping).
void ProtodownWatch::receiveBufferIs(int bytes) {
  if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) < 0)
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  socklen_t len = sizeof receiveBuffer_;
  ::getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer_, &len);
}

KernelLink const* ProtodownWatch::shown(std::string const& netdev) const {
  auto it = shown_.find(netdev);
  return it != shown_.end() && it->second ? &*it->second : nullptr;
}

void ProtodownWatch::netdevAdd(std::string const& netdev) {
  if (netdevs_.insert(netdev).second)
    dump();
}

void ProtodownWatch::dump() {
  if (dumping_) {
    dumpAgain_ = true;  // the kernel runs one dump per socket at a time
    return;
  }
  alignas(nlmsghdr) unsigned char req[kLinkRequestSize];
  nlmsghdr const* h = linkRequest(req, ++seq_);
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(fd_, h, h->nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
    if (report_)
      report_(std::string("kernel link watch: a dump cannot be asked for: ") +
              std::strerror(errno));
    return;
  }
  dumping_ = true;
  dumpAgain_ = interrupted_ = false;
  dumped_.clear();
}

void ProtodownWatch::readable() {
  for (;;) {
    // The datagram's whole size first, so that a long one is never cut.
    ssize_t const size = ::recv(fd_, nullptr, 0, MSG_PEEK | MSG_TRUNC);
    if (size < 0 && errno == EINTR)
      continue;
    if (size < 0 && errno == ENOBUFS) {
      overrun();
      continue;
    }
    if (size <= 0)
      return;  // nothing more for now
    if (buf_.size() < static_cast<std::size_t>(size))
      buf_.resize(static_cast<std::size_t>(size));
    sockaddr_nl from{};
    socklen_t fromLen = sizeof from;
    ssize_t const n =
        ::recvfrom(fd_, buf_.data(), buf_.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno == ENOBUFS) {
      overrun();
      continue;
    }
    if (n <= 0)
      return;
    if (from.nl_pid == 0)
      received(buf_.data(), static_cast<std::size_t>(n));
  }
}

// Notifications were dropped: what they said is asked for again, and the
// buffer grows so that the next burst fits.
void ProtodownWatch::overrun() {
  ++overruns_;
  int const before = receiveBuffer_;
  if (receiveBuffer_ < kReceiveBufferMax)
    receiveBufferIs(std::min(std::max(receiveBuffer_, 4096) * 4, kReceiveBufferMax));
  if (report_ && (receiveBuffer_ != before || overruns_ == 1)) {
    report_("kernel link watch: notifications overran the receive buffer (" +
            std::to_string(before / 1024) + " KiB); the kernel is asked again" +
            (receiveBuffer_ != before
                 ? ", with a buffer of " + std::to_string(receiveBuffer_ / 1024) + " KiB"
                 : std::string()));
  }
  if (dumping_)
    dumpAgain_ = true;
  else
    dump();
}

void ProtodownWatch::received(unsigned char const* data, std::size_t size) {
  auto const* h = reinterpret_cast<nlmsghdr const*>(data);
  for (auto left = static_cast<int>(size); mnl_nlmsg_ok(h, left); h = mnl_nlmsg_next(h, &left)) {
    bool const ours = dumping_ && h->nlmsg_seq == seq_ && h->nlmsg_seq != 0;
    if (ours && (h->nlmsg_flags & NLM_F_DUMP_INTR))
      interrupted_ = true;
    if (h->nlmsg_type == NLMSG_DONE) {
      if (ours)
        dumpDone(!interrupted_);
    } else if (h->nlmsg_type == NLMSG_ERROR) {
      auto const* e = static_cast<nlmsgerr const*>(mnl_nlmsg_get_payload(h));
      if (h->nlmsg_len < mnl_nlmsg_size(sizeof(nlmsgerr)) || e->error == 0)
        continue;
      if (!ours)
        continue;
      if (e->error == -EBUSY || e->error == -EINTR) {
        dumpDone(false);  // asked again
      } else {
        dumping_ = false;
        if (report_)
          report_(std::string("kernel link watch: the kernel refused a dump: ") +
                  std::strerror(-e->error));
      }
    } else if (auto m = linkMessageOf(*h)) {
      if (ours)
        dumped_.insert(m->link.name);
      linkIs(*m);
    }
  }
}

void ProtodownWatch::linkIs(LinkMessage const& m) {
  // The device that had a watched name under this index and has another
  // name now was renamed away.
  for (auto const& [name, link] : shown_) {
    if (link && link->ifindex == m.link.ifindex && name != m.link.name) {
      show(name, std::nullopt);
      break;
    }
  }
  if (!netdevs_.contains(m.link.name))
    return;
  if (!m.gone) {
    show(m.link.name, m.link);
    return;
  }
  auto const* now = shown(m.link.name);
  if (now && now->ifindex == m.link.ifindex)
    show(m.link.name, std::nullopt);
}

void ProtodownWatch::show(std::string const& netdev, std::optional<KernelLink> link) {
  auto [it, added] = shown_.try_emplace(netdev);
  if (!added && it->second == link)
    return;
  it->second = std::move(link);
  onChange_(netdev, it->second ? &*it->second : nullptr);
}

// A complete dump shows every device there is: a watched one it did not
// show is gone.
void ProtodownWatch::dumpDone(bool complete) {
  dumping_ = false;
  if (complete) {
    for (auto const& name : netdevs_) {
      if (!dumped_.contains(name))
        show(name, std::nullopt);
    }
  }
  if (!complete || dumpAgain_) {
    dump();
    return;
  }
  if (synced_)
    synced_();
}

}  // namespace Host
