#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

struct nlmsghdr;

namespace Host {

// What the kernel says of one netdevice in an rtnetlink link message: the
// one reader of link messages, for the host's watch and the soak's probe.
struct KernelLink {
  int ifindex = 0;
  std::string name;
  std::string kind;  // of IFLA_LINKINFO ("macvlan", "veth"); empty: a plain device
  bool protodown = false;
  // The protodown reason bits other programs hold (IFLA_PROTO_DOWN_REASON):
  // while any is set, the kernel refuses to clear protodown.
  std::uint32_t protodownReasons = 0;
  bool operator==(KernelLink const&) const = default;
};

// A parsed link message: `gone` for RTM_DELLINK.
struct LinkMessage {
  KernelLink link;
  bool gone = false;
};

// Reads an RTM_NEWLINK or RTM_DELLINK message; nothing for any other
// message, or one too short to be a link message or without a name.
std::optional<LinkMessage> linkMessageOf(nlmsghdr const& message);

// Builds an RTM_GETLINK request into `buf` (at least kLinkRequestSize
// bytes): a dump of every link when `name` is empty, else the one link of
// that name. Returns the request.
inline constexpr std::size_t kLinkRequestSize = 128;
nlmsghdr* linkRequest(void* buf, std::uint32_t seq, std::string const& name = {});

}  // namespace Host
