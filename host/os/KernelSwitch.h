#pragma once

#include <string>

namespace Host {

// Where this process reads sysfs: AGENTHOST_SYSFS when set and not empty (a
// test's own tree), else /sys.
std::string sysfsRoot();

// Whether the kernel drives the switch behind `netdev` itself, so that the
// agent's MDIO accesses through it would race the kernel's switch driver.
// Read from the sysfs tree at `sysfs` without touching the bus. The kernel
// owns the chip when a driver is bound to the chip's own MDIO device on an
// MDIO bus of netdev's device, or when netdev is the conduit of a switch
// the kernel's DSA layer drives. Returns the refusal, naming the driver
// where sysfs tells it, with "Check:" and what to do; "" when nothing of
// the kernel's is in the way. A netdevice that sysfs does not know is not
// in the way: the MII ioctls tell what is wrong with it.
std::string kernelSwitchRefusal(std::string const& netdev, std::string const& sysfs = sysfsRoot());

}  // namespace Host
