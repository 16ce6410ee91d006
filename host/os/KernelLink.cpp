#include "host/os/KernelLink.h"

#include <libmnl/libmnl.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>

#include <cstring>

namespace Host {

namespace {

struct Parse {
  KernelLink* link;
  bool named = false;
};

// The kind of the device, from IFLA_LINKINFO's nested IFLA_INFO_KIND.
int linkInfoAttr(nlattr const* a, void* data) {
  if (mnl_attr_get_type(a) == IFLA_INFO_KIND && mnl_attr_validate(a, MNL_TYPE_NUL_STRING) >= 0)
    static_cast<KernelLink*>(data)->kind = mnl_attr_get_str(a);
  return MNL_CB_OK;
}

int reasonAttr(nlattr const* a, void* data) {
  if (mnl_attr_get_type(a) == IFLA_PROTO_DOWN_REASON_VALUE &&
      mnl_attr_validate(a, MNL_TYPE_U32) >= 0)
    static_cast<KernelLink*>(data)->protodownReasons = mnl_attr_get_u32(a);
  return MNL_CB_OK;
}

// Of an attribute given twice, the last counts, as the kernel sends them.
int linkAttr(nlattr const* a, void* data) {
  auto& p = *static_cast<Parse*>(data);
  switch (mnl_attr_get_type(a)) {
    case IFLA_IFNAME:
      if (mnl_attr_validate(a, MNL_TYPE_STRING) >= 0) {
        auto const* s = static_cast<char const*>(mnl_attr_get_payload(a));
        p.link->name.assign(s, ::strnlen(s, mnl_attr_get_payload_len(a)));
        p.named = !p.link->name.empty();
      }
      break;
    case IFLA_PROTO_DOWN:
      if (mnl_attr_validate(a, MNL_TYPE_U8) >= 0)
        p.link->protodown = mnl_attr_get_u8(a) != 0;
      break;
    case IFLA_PROTO_DOWN_REASON:
      if (mnl_attr_validate(a, MNL_TYPE_NESTED) >= 0)
        mnl_attr_parse_nested(a, reasonAttr, p.link);
      break;
    case IFLA_LINKINFO:
      if (mnl_attr_validate(a, MNL_TYPE_NESTED) >= 0)
        mnl_attr_parse_nested(a, linkInfoAttr, p.link);
      break;
    default:
      break;
  }
  return MNL_CB_OK;
}

}  // namespace

std::optional<LinkMessage> linkMessageOf(nlmsghdr const& message) {
  if (message.nlmsg_type != RTM_NEWLINK && message.nlmsg_type != RTM_DELLINK)
    return std::nullopt;
  if (message.nlmsg_len < mnl_nlmsg_size(sizeof(ifinfomsg)))
    return std::nullopt;
  LinkMessage m;
  m.gone = message.nlmsg_type == RTM_DELLINK;
  auto const* info = static_cast<ifinfomsg const*>(mnl_nlmsg_get_payload(&message));
  m.link.ifindex = info->ifi_index;
  Parse p{&m.link};
  mnl_attr_parse(&message, sizeof(ifinfomsg), linkAttr, &p);
  if (!p.named)
    return std::nullopt;
  return m;
}

nlmsghdr* linkRequest(void* buf, std::uint32_t seq, std::string const& name) {
  std::memset(buf, 0, kLinkRequestSize);
  nlmsghdr* h = mnl_nlmsg_put_header(buf);
  h->nlmsg_type = RTM_GETLINK;
  h->nlmsg_flags = NLM_F_REQUEST | (name.empty() ? NLM_F_DUMP : 0);
  h->nlmsg_seq = seq;
  auto* info = static_cast<ifinfomsg*>(mnl_nlmsg_put_extra_header(h, sizeof(ifinfomsg)));
  info->ifi_family = AF_UNSPEC;
  if (!name.empty())
    mnl_attr_put_strz_check(h, kLinkRequestSize, IFLA_IFNAME, name.c_str());
  return h;
}

}  // namespace Host
