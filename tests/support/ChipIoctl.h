#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bus/linux/MiiIoctlBus.h"
#include "platform/bus/sim/SimBcm53134.h"

namespace TestSupport {

// One access as it reached the hardware (or its stand-in).
struct BusAccess {
  bool write = false;
  unsigned phy = 0, reg = 0;
  std::uint16_t value = 0;  // the value written, or the value read
  bool operator==(BusAccess const&) const = default;
};
std::string toString(BusAccess const& a);

// Stands in for the kernel at the one system call of the MII ioctl bus: it
// answers SIOCGMIIREG and SIOCSMIIREG for one netdevice from a simulated
// chip's registers, as a driver that passes MII ioctls to its MDIO bus
// would, and notes every access it carries out. Another netdevice name is
// answered with ENODEV, a chip error with EIO, and `failWith`, while
// non-zero, fails every call with that errno. With `noting` off it keeps no
// note: a benchmark's million cycles would otherwise grow the notes (a
// reallocation now and then, counted against the cycle).
class ChipIoctl : public Hardware::Mdio::Linux::MiiIoctl {
 public:
  ChipIoctl(std::string netdev, Hardware::Mdio::Sim::Bcm53134Chip& chip)
      : netdev_(std::move(netdev)), chip_(chip) {}
  int call(int fd, unsigned long request, ::ifreq& ifr) override;

  std::vector<BusAccess> accesses;
  bool noting = true;
  int failWith = 0;
  unsigned calls = 0;

 private:
  std::string netdev_;
  Hardware::Mdio::Sim::Bcm53134Chip& chip_;
};

}  // namespace TestSupport
