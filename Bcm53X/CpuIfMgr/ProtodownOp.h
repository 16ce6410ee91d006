#pragma once

#include <cstdint>

#include "platform/orba/Node.h"

struct nl_sock;
struct nl_msg;
struct rtnl_link;

namespace Bcm53134::Agent {

// One change of a netdevice's protodown flag: resolves the interface index,
// opens its own rtnetlink socket, sends one link-change request carrying
// IFLA_PROTO_DOWN and waits for the kernel's acknowledgement. Whatever run
// allocated is released by the destructor (link object, then socket), on
// every path; nothing outlives the operation.
class ProtodownOp {
 public:
  ProtodownOp(Orba::String const& intfName, unsigned protodown)
      : intfName_(intfName), protodown_(protodown) {}
  ~ProtodownOp();
  ProtodownOp(ProtodownOp const&) = delete;
  ProtodownOp& operator=(ProtodownOp const&) = delete;

  // Runs the operation; returns the error text of the first step that
  // failed, empty on success.
  Orba::String run();

  // The steps of run, usable on their own. Each returns its error text,
  // empty on success.
  // Resolves intfName into ifIndex.
  Orba::String ifIndexResolve();
  // Allocates the socket and connects it to rtnetlink.
  Orba::String sockConnect();
  // Allocates the link object for ifIndex and builds the link-change request
  // with the IFLA_PROTO_DOWN byte into *msg, which the caller then owns; *msg
  // is null on failure.
  Orba::String requestBuild(struct nl_msg** msg);
  // Sends the request on the socket and waits for the acknowledgement;
  // consumes msg.
  Orba::String requestSend(struct nl_msg* msg);

  Orba::String const& intfName() const noexcept { return intfName_; }
  unsigned protodown() const noexcept { return protodown_; }
  std::int32_t ifIndex() const noexcept { return ifIndex_; }
  struct nl_sock* sock() const noexcept {
    return sock_;
  }
  struct rtnl_link* link() const noexcept {
    return link_;
  }

  // The netlink attribute type of the protodown flag (IFLA_PROTO_DOWN).
  static constexpr int protodownAttr = 39;

 private:
  Orba::String intfName_;
  unsigned protodown_;
  std::int32_t ifIndex_ = 0;
  struct nl_sock* sock_ = nullptr;
  struct rtnl_link* link_ = nullptr;
};

}  // namespace Bcm53134::Agent
