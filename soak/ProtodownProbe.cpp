#include "soak/ProtodownProbe.h"

#include <libmnl/libmnl.h>
#include <linux/if.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "host/os/KernelLink.h"

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
  if (dev.size() >= IFNAMSIZ)
    throw std::runtime_error("netdevice name too long: " + dev);
  alignas(nlmsghdr) unsigned char req[Host::kLinkRequestSize];
  nlmsghdr const* h = Host::linkRequest(req, ++seq_, dev);
  if (::send(fd_, h, h->nlmsg_len, 0) < 0)
    throw std::runtime_error(std::string("RTM_GETLINK send: ") + std::strerror(errno));

  std::array<unsigned char, 32768> buf;
  for (;;) {
    auto n = ::recv(fd_, buf.data(), buf.size(), 0);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      throw std::runtime_error(std::string("RTM_GETLINK recv: ") + std::strerror(errno));
    }
    auto left = static_cast<int>(n);
    for (auto const* m = reinterpret_cast<nlmsghdr const*>(buf.data()); mnl_nlmsg_ok(m, left);
         m = mnl_nlmsg_next(m, &left)) {
      if (m->nlmsg_seq != seq_)
        continue;  // an answer to an earlier, abandoned request
      if (m->nlmsg_type == NLMSG_ERROR) {
        auto const* e = static_cast<nlmsgerr const*>(mnl_nlmsg_get_payload(m));
        throw std::runtime_error("RTM_GETLINK " + dev + ": " + std::strerror(-e->error));
      }
      if (auto link = Host::linkMessageOf(*m))
        return link->link.protodown;
    }
  }
}

}  // namespace Soak
