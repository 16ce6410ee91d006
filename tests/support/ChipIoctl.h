#pragma once

#include <cstdint>
#include <set>
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
// would, and (while `record` is set) notes every access it carries out.
// Another netdevice name is answered with ENODEV, a chip error with EIO,
// `failWith`, while non-zero, fails every call with that errno, and reads of
// the (PHY, register) pairs in `failReads` fail with EIO.
class ChipIoctl : public Hardware::Mdio::Linux::MiiIoctl {
 public:
  ChipIoctl(std::string netdev, Hardware::Mdio::Sim::Bcm53134Chip& chip)
      : netdev_(std::move(netdev)), chip_(chip) {}
  int call(int fd, unsigned long request, ::ifreq& ifr) override;

  bool record = true;
  std::vector<BusAccess> accesses;
  int failWith = 0;
  std::set<std::pair<unsigned, unsigned>> failReads;
  unsigned calls = 0;

 private:
  std::string netdev_;
  Hardware::Mdio::Sim::Bcm53134Chip& chip_;
};

// A pass-through in front of a bus that notes every access, so that a run
// over the simulated chip can be compared with one over another backend.
class RecordingBus : public Hardware::Mdio::Bus {
 public:
  static Orba::Ptr<RecordingBus> RecordingBusIs(Orba::Ptr<Hardware::Mdio::Bus> inner) {
    return Orba::Ptr<RecordingBus>::adopt(new RecordingBus(std::move(inner)));
  }
  Hardware::Mdio::AccessResult read(Hardware::Mdio::PortAddr phy, std::uint8_t reg) override;
  Hardware::Mdio::AccessResult write(Hardware::Mdio::PortAddr phy, std::uint8_t reg,
                                     std::uint16_t value) override;
  Kiv::Seconds accessTime() const override { return inner_->accessTime(); }
  std::string description() const override { return inner_->description(); }
  Kiv::TypeDesc const* typeData() const override;

  std::vector<BusAccess> accesses;

 private:
  explicit RecordingBus(Orba::Ptr<Hardware::Mdio::Bus> inner) : inner_(std::move(inner)) {}
  Orba::Ptr<Hardware::Mdio::Bus> inner_;
};

}  // namespace TestSupport
