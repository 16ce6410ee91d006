#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <string>

#include "platform/bus/Bus.h"
#include "platform/kiv/Trace.h"
#include "platform/kiv/Typed.h"

struct ifreq;

namespace Hardware::Mdio::Linux {

// The one system call behind the bus: ioctl(fd, request, ifr). The kernel's
// is the default; a test may stand in for the kernel here and nowhere else.
class MiiIoctl {
 public:
  virtual ~MiiIoctl() = default;
  // 0 on success, else the errno value the call failed with.
  virtual int call(int fd, unsigned long request, ::ifreq& ifr) = 0;
  // The kernel's ioctl(2).
  static MiiIoctl& kernel();
};

// A real MDIO bus reached through the Linux MII ioctls (SIOCGMIIREG and
// SIOCSMIIREG) on one netdevice: clause-22 reads and writes of any PHY
// address on the bus of that netdevice's MAC, as far as its driver passes
// them on. The bus opens one socket when it is made and keeps it for its
// life; the netdevice is looked up, on every access, in the network
// namespace the socket was made in.
//
// Every failure becomes an error result whose text names the operation, the
// PHY address, the register, the netdevice and the system's reason:
//   "MDIO read of PHY 1 register 0x10 on eth1 failed: Operation not supported"
// An access (operation, PHY, register) that starts failing is traced once on
// the "Mdio" facility at level 0, again when its reason changes, and once
// when it succeeds again; repeated failures in between are not traced.
class MiiIoctlBus : public Kiv::Typed<MiiIoctlBus, Bus> {
 public:
  // Throws std::invalid_argument for an empty netdevice name or one longer
  // than the kernel takes (15 bytes). `ioctl` must outlive the bus.
  static Orba::Ptr<MiiIoctlBus> MiiIoctlBusIs(std::string const& netdev,
                                              MiiIoctl& ioctl = MiiIoctl::kernel());

  AccessResult read(PortAddr phy, std::uint8_t reg) override;
  AccessResult write(PortAddr phy, std::uint8_t reg, std::uint16_t value) override;
  std::string description() const override { return "MII ioctls on " + netdev_; }

  std::string const& netdev() const noexcept { return netdev_; }
  // The errno of the latest access, 0 when it succeeded. Callers that must
  // tell a missing netdevice from a refusal or a missing privilege use it.
  int lastError() const noexcept { return lastError_; }
  // Accesses that are failing now, each counted once.
  unsigned failingAccesses() const noexcept { return static_cast<unsigned>(failing_.count()); }

  static Kiv::TypeDesc const& typeDesc();

  static constexpr std::size_t kMaxNetdevName = 15;

 private:
  MiiIoctlBus(std::string netdev, MiiIoctl& ioctl);
  ~MiiIoctlBus() override;
  enum class Op : std::uint8_t { read = 0, write = 1 };
  // Runs one ioctl and records its outcome; returns the errno (0: success).
  int access(Op op, PortAddr phy, std::uint8_t reg, std::uint16_t* value);
  // "MDIO read of PHY 1 register 0x10 on eth1" into buf; returns its length.
  std::size_t describe(char* buf, std::size_t size, Op op, PortAddr phy, std::uint8_t reg) const;
  std::string accessText(Op op, PortAddr phy, std::uint8_t reg) const;
  std::string failureText(Op op, PortAddr phy, std::uint8_t reg, int err) const;
  void traceOutcome(Op op, PortAddr phy, std::uint8_t reg, int err);

  std::string netdev_;
  MiiIoctl& ioctl_;
  int fd_ = -1;
  int socketError_ = 0;  // why the socket could not be made
  int lastError_ = 0;
  // Per access (operation, PHY, register): failing now, and with which errno.
  static constexpr std::size_t kAccesses = 2 * 32 * 32;
  std::bitset<kAccesses> failing_;
  std::array<int, kAccesses> failErrno_{};
  std::array<std::uint32_t, kAccesses> failCount_{};
};

// The facility the MDIO backends trace on.
Kiv::TraceHandle& mdioTrace();

}  // namespace Hardware::Mdio::Linux
