#include "host/os/ProtodownWatch.h"

#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <netlink/attr.h>
#include <netlink/msg.h>
#include <netlink/netlink.h>
#include <netlink/route/rtnl.h>
#include <netlink/socket.h>

#include <stdexcept>

#include "platform/kiv/EventLoop.h"

namespace Host {

ProtodownWatch::ProtodownWatch(std::set<std::string> netdevs, OnChange onChange)
    : netdevs_(std::move(netdevs)), onChange_(std::move(onChange)) {
  sock_ = nl_socket_alloc();
  if (!sock_)
    throw std::runtime_error("rtnetlink: cannot allocate a socket");
  nl_socket_disable_seq_check(sock_);  // notifications carry no sequence of ours
  nl_socket_modify_cb(sock_, NL_CB_VALID, NL_CB_CUSTOM, &ProtodownWatch::received, this);
  if (int rc = nl_connect(sock_, NETLINK_ROUTE); rc < 0) {
    nl_socket_free(sock_);
    throw std::runtime_error(std::string("rtnetlink: ") + nl_geterror(rc));
  }
  nl_socket_add_membership(sock_, RTNLGRP_LINK);
  nl_socket_set_nonblocking(sock_);
  Kiv::EventLoop::instance().fdWatchIs(nl_socket_get_fd(sock_), [this] { readable(); });
  dump();
}

ProtodownWatch::~ProtodownWatch() {
  Kiv::EventLoop::instance().fdWatchDel(nl_socket_get_fd(sock_));
  nl_socket_free(sock_);
}

void ProtodownWatch::netdevAdd(std::string const& netdev) {
  if (netdevs_.insert(netdev).second)
    dump();
}

void ProtodownWatch::dump() {
  // The answers come through the socket like notifications.
  nl_rtgen_request(sock_, RTM_GETLINK, AF_UNSPEC, NLM_F_DUMP);
}

void ProtodownWatch::readable() {
  while (nl_recvmsgs_default(sock_) > 0) {
  }
}

int ProtodownWatch::received(nl_msg* msg, void* self) {
  auto& w = *static_cast<ProtodownWatch*>(self);
  nlmsghdr* h = nlmsg_hdr(msg);
  if (h->nlmsg_type != RTM_NEWLINK && h->nlmsg_type != RTM_DELLINK)
    return NL_OK;
  nlattr* tb[IFLA_MAX + 1];
  if (nlmsg_parse(h, sizeof(ifinfomsg), tb, IFLA_MAX, nullptr) < 0 || !tb[IFLA_IFNAME])
    return NL_OK;
  std::string const name = nla_get_string(tb[IFLA_IFNAME]);
  if (!w.netdevs_.count(name))
    return NL_OK;
  std::optional<bool> now;
  if (h->nlmsg_type == RTM_NEWLINK)
    now = tb[IFLA_PROTO_DOWN] && nla_get_u8(tb[IFLA_PROTO_DOWN]) != 0;
  auto it = w.shown_.find(name);
  if (it != w.shown_.end() && it->second == now)
    return NL_OK;
  w.shown_[name] = now;
  w.onChange_(name, now);
  return NL_OK;
}

}  // namespace Host
