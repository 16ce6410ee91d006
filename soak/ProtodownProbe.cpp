#include "soak/ProtodownProbe.h"

#include <linux/if.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace Soak {

ProtodownProbe::ProtodownProbe() {
  fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd_ < 0)
    throw std::runtime_error(std::string("netlink socket: ") + std::strerror(errno));
}

ProtodownProbe::~ProtodownProbe() {
  if (fd_ >= 0)
    ::close(fd_);
}

bool ProtodownProbe::protodown(std::string const& dev) {
  struct {
    nlmsghdr nh;
    ifinfomsg ifi;
    std::array<char, 64> attrs;
  } req{};
  if (dev.size() >= IFNAMSIZ)
    throw std::runtime_error("netdevice name too long: " + dev);
  auto* name = reinterpret_cast<rtattr*>(req.attrs.data());
  name->rta_type = IFLA_IFNAME;
  name->rta_len = static_cast<unsigned short>(RTA_LENGTH(dev.size() + 1));
  std::memcpy(RTA_DATA(name), dev.c_str(), dev.size() + 1);
  req.nh.nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg)) + RTA_ALIGN(name->rta_len);
  req.nh.nlmsg_type = RTM_GETLINK;
  req.nh.nlmsg_flags = NLM_F_REQUEST;
  req.nh.nlmsg_seq = ++seq_;
  req.ifi.ifi_family = AF_UNSPEC;
  if (::send(fd_, &req, req.nh.nlmsg_len, 0) < 0)
    throw std::runtime_error(std::string("RTM_GETLINK send: ") + std::strerror(errno));

  std::array<char, 32768> buf;
  for (;;) {
    auto n = ::recv(fd_, buf.data(), buf.size(), 0);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      throw std::runtime_error(std::string("RTM_GETLINK recv: ") + std::strerror(errno));
    }
    auto len = static_cast<unsigned>(n);
    for (auto* h = reinterpret_cast<nlmsghdr*>(buf.data()); NLMSG_OK(h, len);
         h = NLMSG_NEXT(h, len)) {
      if (h->nlmsg_seq != seq_)
        continue;  // an answer to an earlier, abandoned request
      if (h->nlmsg_type == NLMSG_ERROR) {
        auto const* e = static_cast<nlmsgerr const*>(NLMSG_DATA(h));
        throw std::runtime_error("RTM_GETLINK " + dev + ": " + std::strerror(-e->error));
      }
      if (h->nlmsg_type != RTM_NEWLINK)
        continue;
      auto* ifi = static_cast<ifinfomsg*>(NLMSG_DATA(h));
      int attrLen = static_cast<int>(IFLA_PAYLOAD(h));
      for (auto* a = IFLA_RTA(ifi); RTA_OK(a, attrLen); a = RTA_NEXT(a, attrLen)) {
        if (a->rta_type == IFLA_PROTO_DOWN)
          return *static_cast<std::uint8_t const*>(RTA_DATA(a)) != 0;
      }
      throw std::runtime_error("RTM_GETLINK " + dev + ": no IFLA_PROTO_DOWN in the answer");
    }
  }
}

}  // namespace Soak
