#include "tests/support/ChipIoctl.h"

#include <linux/mii.h>
#include <linux/sockios.h>
#include <net/if.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace TestSupport {

std::string toString(BusAccess const& a) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s phy %u reg 0x%x value 0x%x", a.write ? "write" : "read", a.phy,
                a.reg, a.value);
  return buf;
}

int ChipIoctl::call(int fd, unsigned long request, ::ifreq& ifr) {
  ++calls;
  if (failWith)
    return failWith;
  if (fd < 0 || std::strncmp(ifr.ifr_name, netdev_.c_str(), IFNAMSIZ) != 0)
    return ENODEV;
  auto& mii = *reinterpret_cast<::mii_ioctl_data*>(&ifr.ifr_ifru);
  auto const phy = static_cast<Hardware::Mdio::PortAddr>(mii.phy_id);
  auto const reg = static_cast<std::uint8_t>(mii.reg_num);
  bool const write = request == SIOCSMIIREG;
  if (!write && request != SIOCGMIIREG)
    return EOPNOTSUPP;
  auto r = write ? chip_.write(phy, reg, mii.val_in) : chip_.read(phy, reg);
  if (!write)
    mii.val_out = r.value;
  if (noting)
    accesses.push_back({write, phy, reg, write ? mii.val_in : r.value});
  return r.ok() ? 0 : EIO;
}

}  // namespace TestSupport
