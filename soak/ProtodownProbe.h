#pragma once

#include <cstdint>
#include <string>

namespace Soak {

// Reads a netdevice's protodown flag (IFLA_PROTO_DOWN) with one rtnetlink
// RTM_GETLINK request, in the network namespace of the calling thread. Cheap
// enough to ask after every poll cycle of a day-long soak, where running
// `ip -d link show` each time would dominate the run.
class ProtodownProbe {
 public:
  ProtodownProbe();
  ~ProtodownProbe();
  ProtodownProbe(ProtodownProbe const&) = delete;
  ProtodownProbe& operator=(ProtodownProbe const&) = delete;

  // Throws std::runtime_error when the kernel does not know the device or
  // does not report the flag.
  bool protodown(std::string const& dev);

 private:
  int fd_ = -1;
  std::uint32_t seq_ = 0;
};

}  // namespace Soak
