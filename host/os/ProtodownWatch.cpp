#include "host/os/ProtodownWatch.h"

#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/kiv/EventLoop.h"

namespace Host {

// The socket speaks rtnetlink directly: a dump request and the kernel's
// link messages are all it needs, and the host maps no netlink library for
// it (the agent's library brings its own when the agent is loaded).

ProtodownWatch::ProtodownWatch(std::set<std::string> netdevs, OnChange onChange)
    : netdevs_(std::move(netdevs)), onChange_(std::move(onChange)) {
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
  Kiv::EventLoop::instance().fdWatchIs(fd_, [this] { readable(); });
  dump();
}

ProtodownWatch::~ProtodownWatch() {
  Kiv::EventLoop::instance().fdWatchDel(fd_);
  ::close(fd_);
}

void ProtodownWatch::netdevAdd(std::string const& netdev) {
  if (netdevs_.insert(netdev).second)
    dump();
}

void ProtodownWatch::dump() {
  // The answers come through the socket like notifications.
  struct {
    nlmsghdr h;
    rtgenmsg g;
    unsigned char pad[NLMSG_ALIGN(sizeof(rtgenmsg)) - sizeof(rtgenmsg)];
  } req{};
  req.h.nlmsg_len = NLMSG_LENGTH(NLMSG_ALIGN(sizeof(rtgenmsg)));
  req.h.nlmsg_type = RTM_GETLINK;
  req.h.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  req.g.rtgen_family = AF_UNSPEC;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  ::sendto(fd_, &req, req.h.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel);
}

void ProtodownWatch::readable() {
  for (;;) {
    // The datagram's whole size first, so that a long one is never cut.
    ssize_t const size = ::recv(fd_, nullptr, 0, MSG_PEEK | MSG_TRUNC);
    if (size < 0 && errno == EINTR)
      continue;
    if (size <= 0)
      return;  // nothing more for now, or an overrun the next wake-up reads past
    if (buf_.size() < static_cast<std::size_t>(size))
      buf_.resize(static_cast<std::size_t>(size));
    sockaddr_nl from{};
    socklen_t fromLen = sizeof from;
    ssize_t const n =
        ::recvfrom(fd_, buf_.data(), buf_.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return;
    if (from.nl_pid == 0)  // only the kernel speaks for the kernel
      received(buf_.data(), static_cast<std::size_t>(n));
  }
}

void ProtodownWatch::received(void const* data, std::size_t size) {
  auto const* h = static_cast<nlmsghdr const*>(data);
  for (auto left = static_cast<unsigned>(size); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
    if (h->nlmsg_type != RTM_NEWLINK && h->nlmsg_type != RTM_DELLINK)
      continue;
    if (h->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg)))
      continue;
    // The attributes as the kernel sends them; of one repeated, the last.
    std::optional<std::string> name;
    bool protodown = false;
    auto const* a = reinterpret_cast<rtattr const*>(
        static_cast<unsigned char const*>(NLMSG_DATA(h)) + NLMSG_ALIGN(sizeof(ifinfomsg)));
    auto attrLeft = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof(ifinfomsg)));
    for (; RTA_OK(a, attrLeft); a = RTA_NEXT(a, attrLeft)) {
      auto const* payload = static_cast<char const*>(RTA_DATA(a));
      std::size_t const length = RTA_PAYLOAD(a);
      if ((a->rta_type & NLA_TYPE_MASK) == IFLA_IFNAME)
        name = std::string(payload, ::strnlen(payload, length));
      else if ((a->rta_type & NLA_TYPE_MASK) == IFLA_PROTO_DOWN && length >= 1)
        protodown = *payload != 0;
    }
    if (!name || !netdevs_.count(*name))
      continue;
    std::optional<bool> now;
    if (h->nlmsg_type == RTM_NEWLINK)
      now = protodown;
    auto it = shown_.find(*name);
    if (it != shown_.end() && it->second == now)
      continue;
    shown_[*name] = now;
    onChange_(*name, now);
  }
}

}  // namespace Host
