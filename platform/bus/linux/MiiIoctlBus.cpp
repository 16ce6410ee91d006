#include "platform/bus/linux/MiiIoctlBus.h"

#include <linux/mii.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/kiv/TraceOp.h"
#include "platform/kiv/Type.h"

namespace Hardware::Mdio::Linux {

namespace {

class KernelMiiIoctl : public MiiIoctl {
 public:
  int call(int fd, unsigned long request, ::ifreq& ifr) override {
    return ::ioctl(fd, request, &ifr) == 0 ? 0 : errno;
  }
};

// The MII request travels inside the ifreq, where the interface address
// would be.
::mii_ioctl_data& miiData(::ifreq& ifr) {
  return *reinterpret_cast<::mii_ioctl_data*>(&ifr.ifr_ifru);
}

}  // namespace

MiiIoctl& MiiIoctl::kernel() {
  static KernelMiiIoctl k;
  return k;
}

Kiv::TraceHandle& mdioTrace() {
  static Kiv::TraceHandle handle("Mdio", true);
  return handle;
}

Orba::Ptr<MiiIoctlBus> MiiIoctlBus::MiiIoctlBusIs(std::string const& netdev, MiiIoctl& ioctl) {
  if (netdev.empty() || netdev.size() > kMaxNetdevName) {
    throw std::invalid_argument("netdevice name '" + netdev + "' is not 1 to " +
                                std::to_string(kMaxNetdevName) + " bytes long");
  }
  return Orba::Ptr<MiiIoctlBus>::adopt(new MiiIoctlBus(netdev, ioctl));
}

MiiIoctlBus::MiiIoctlBus(std::string netdev, MiiIoctl& ioctl)
    : netdev_(std::move(netdev)), ioctl_(ioctl) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0)
    socketError_ = errno;
}

MiiIoctlBus::~MiiIoctlBus() {
  if (fd_ >= 0)
    ::close(fd_);
}

AccessResult MiiIoctlBus::read(PortAddr phy, std::uint8_t reg) {
  std::uint16_t value = 0;
  int err = access(Op::read, phy, reg, &value);
  if (err)
    return {0, failureText(Op::read, phy, reg, err)};
  return {value, {}};
}

AccessResult MiiIoctlBus::write(PortAddr phy, std::uint8_t reg, std::uint16_t value) {
  int err = access(Op::write, phy, reg, &value);
  if (err)
    return {0, failureText(Op::write, phy, reg, err)};
  return {0, {}};
}

int MiiIoctlBus::access(Op op, PortAddr phy, std::uint8_t reg, std::uint16_t* value) {
  if (phy > 31 || reg > 31) {
    lastError_ = EINVAL;  // not a clause-22 address: the kernel is not asked
    return lastError_;
  }
  if (fd_ < 0) {
    lastError_ = socketError_;
  } else {
    ::ifreq ifr{};
    std::memcpy(ifr.ifr_name, netdev_.data(), netdev_.size());
    auto& mii = miiData(ifr);
    mii.phy_id = phy;
    mii.reg_num = reg;
    if (op == Op::write)
      mii.val_in = *value;
    lastError_ = ioctl_.call(fd_, op == Op::read ? SIOCGMIIREG : SIOCSMIIREG, ifr);
    if (lastError_ == 0 && op == Op::read)
      *value = mii.val_out;
  }
  traceOutcome(op, phy, reg, lastError_);
  return lastError_;
}

std::size_t MiiIoctlBus::describe(char* buf, std::size_t size, Op op, PortAddr phy,
                                  std::uint8_t reg) const {
  int n = std::snprintf(buf, size, "MDIO %s of PHY %u register 0x%x on %s",
                        op == Op::read ? "read" : "write", static_cast<unsigned>(phy),
                        static_cast<unsigned>(reg), netdev_.c_str());
  return std::min(static_cast<std::size_t>(n), size - 1);
}

std::string MiiIoctlBus::accessText(Op op, PortAddr phy, std::uint8_t reg) const {
  char buf[80];
  return std::string(buf, describe(buf, sizeof buf, op, phy, reg));
}

std::string MiiIoctlBus::failureText(Op op, PortAddr phy, std::uint8_t reg, int err) const {
  // Built in one buffer: a failing bus fails on every poll.
  char reason[96];
  char buf[192];
  std::size_t const n = describe(buf, sizeof buf, op, phy, reg);
  std::snprintf(buf + n, sizeof buf - n, " failed: %s", ::strerror_r(err, reason, sizeof reason));
  return buf;
}

void MiiIoctlBus::traceOutcome(Op op, PortAddr phy, std::uint8_t reg, int err) {
  if (phy > 31 || reg > 31)
    return;
  std::size_t const i = (static_cast<std::size_t>(op) * 32 + phy) * 32 + reg;
  if (err == 0) {
    if (!failing_[i])
      return;
    failing_[i] = false;
    KIV_TRACE(mdioTrace(), 0) << Kiv::traceOp(this, "access") << ": " << accessText(op, phy, reg)
                              << " succeeds again after " << failCount_[i] << " failures";
    failCount_[i] = 0;
    failErrno_[i] = 0;
    return;
  }
  ++failCount_[i];
  if (failing_[i] && failErrno_[i] == err)
    return;
  failing_[i] = true;
  failErrno_[i] = err;
  KIV_TRACE(mdioTrace(), 0) << Kiv::traceOp(this, "access") << ": "
                            << failureText(op, phy, reg, err)
                            << "; not traced again until it succeeds or fails otherwise";
}

Kiv::TypeDesc const& MiiIoctlBus::typeDesc() {
  static Kiv::TypeDesc const d = Kiv::entityType("Hardware::Mdio::Linux::MiiIoctlBus");
  return d;
}

}  // namespace Hardware::Mdio::Linux
