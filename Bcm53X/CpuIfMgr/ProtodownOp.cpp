#include "Bcm53X/CpuIfMgr/ProtodownOp.h"

#include <linux/if_link.h>
#include <net/if.h>
#include <netlink/msg.h>
#include <netlink/netlink.h>
#include <netlink/route/link.h>
#include <netlink/socket.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "Bcm53X/CpuIfMgr/CpuIfMgrTrace.h"
#include "platform/kiv/TraceOp.h"

namespace Bcm53134::Agent {

static_assert(ProtodownOp::protodownAttr == IFLA_PROTO_DOWN);

namespace {

// The C library's text for an error number (the GNU strerror_r, which may
// return a static string instead of filling the buffer).
Orba::String systemText(int err) {
  char buf[255];
  char const* text = ::strerror_r(err, buf, sizeof buf);
  return text;
}

// Second line of the failures around the attribute: the usual cause is a
// device that does not take the flag (a veth, for one).
constexpr char const* notSupportedHint = "\nIFLA_PROTO_DOWN may not be supported on the interface";

}  // namespace

ProtodownOp::~ProtodownOp() {
  if (link_)
    rtnl_link_put(link_);
  if (sock_)
    nl_socket_free(sock_);
}

Orba::String ProtodownOp::ifIndexResolve() {
  ifIndex_ = static_cast<std::int32_t>(::if_nametoindex(intfName_.c_str()));
  if (ifIndex_ == 0) {
    int const err = errno;
    return "if_nametoindex failed: " + systemText(err);
  }
  return {};
}

Orba::String ProtodownOp::sockConnect() {
  if (sock_)
    nl_socket_free(sock_);
  sock_ = nl_socket_alloc();
  if (!sock_) {
    int const err = errno;
    return "nl_socket_alloc failed: " + systemText(err);
  }
  if (int const rc = nl_connect(sock_, NETLINK_ROUTE); rc < 0) {
    return "nl_connect failed. Error code: " + std::to_string(rc);
  }
  return {};
}

Orba::String ProtodownOp::requestBuild(struct nl_msg** msg) {
  *msg = nullptr;
  if (link_)
    rtnl_link_put(link_);
  link_ = rtnl_link_alloc();
  if (!link_) {
    int const err = errno;
    return "rtnl_link_alloc failed: " + systemText(err);
  }
  rtnl_link_set_ifindex(link_, ifIndex_);
  // The link object carries only the index, so the request addresses the
  // device by index and changes nothing but the attribute appended below.
  if (int const rc = rtnl_link_build_change_request(link_, link_, 0, msg); rc < 0) {
    *msg = nullptr;
    return "rtnl_link_build_change_request failed. Error code: " + std::to_string(rc);
  }
  std::uint8_t const byte = static_cast<std::uint8_t>(protodown_);
  if (int const rc = nla_put(*msg, protodownAttr, 1, &byte); rc < 0) {
    nlmsg_free(*msg);
    *msg = nullptr;
    return "nla_put failed. Error code: " + std::to_string(rc) + notSupportedHint;
  }
  return {};
}

Orba::String ProtodownOp::requestSend(struct nl_msg* msg) {
  if (int const rc = nl_send_sync(sock_, msg); rc < 0) {
    return "nla_send_sync failed. Error code: " + std::to_string(rc) + notSupportedHint;
  }
  return {};
}

Orba::String ProtodownOp::run() {
  KIV_TRACE(cpuIfMgrTrace(), 1) << Kiv::traceOp(this, "run") << ": setting protodown to "
                                << protodown_;
  Orba::String result = ifIndexResolve();
  if (result.empty())
    result = sockConnect();
  struct nl_msg* msg = nullptr;
  if (result.empty())
    result = requestBuild(&msg);
  if (result.empty())
    result = requestSend(msg);
  if (result.empty()) {
    KIV_TRACE(cpuIfMgrTrace(), 1) << Kiv::traceOp(this, "run") << ": protodown operation succeeded";
    return result;
  }
  KIV_TRACE(cpuIfMgrTrace(), 1) << Kiv::traceOp(this, "run") << ": " << result;
  return result;
}

}  // namespace Bcm53134::Agent
