#include "host/os/KernelSwitch.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace Host {

namespace {

namespace fs = std::filesystem;

// The MDIO device that counts as the switch: the chip's own, at its
// pseudo-PHY address, where a switch driver binds. The chip's port PHYs
// (addresses 0 to 7) are MDIO devices too, and the kernel's PHY layer binds
// a PHY driver to each one it recognises when it scans the bus, whether or
// not anything uses it; such a driver acts only once a netdevice attaches
// the PHY, which on this chip is the work of the switch driver (its user
// ports), found here at this address. Counting the port PHYs would refuse
// an appliance whose kernel merely recognised them.
constexpr char const* kChipDevice = ":1e";

// The name of the driver bound to a device, the basename of its `driver`
// link; empty when none is.
std::string driverOf(fs::path const& device) {
  std::error_code ec;
  auto target = fs::read_symlink(device / "driver", ec);
  return ec ? std::string() : target.filename().string();
}

std::string firstLine(fs::path const& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// The entries of a directory by name, in name order; none when it cannot
// be read.
std::vector<std::string> entries(fs::path const& dir) {
  std::vector<std::string> r;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    r.push_back(it->path().filename().string());
  std::sort(r.begin(), r.end());
  return r;
}

// A driver that owns the chip: what sysfs shows of it, and how to unbind it.
struct Owner {
  std::string what;
  std::string how;
};

std::string unbindCommand(std::string const& device, fs::path const& driverLink) {
  return "echo " + device + " > " + (driverLink / "unbind").string();
}

std::string refusal(std::string const& netdev, Owner const& o) {
  return "the kernel's switch driver owns the chip behind " + netdev + ": " + o.what +
         ", and the agent's MDIO accesses would race it. Check: unbind that driver (" + o.how +
         "; to keep it unbound after a reboot, disable the switch in the device tree or "
         "blacklist the driver's module), or leave the chip to the kernel and do not run "
         "agenthost on it";
}

// A driver bound to the chip's device on an MDIO bus registered under
// netdev's device.
bool boundOnMdioBus(fs::path const& sysfs, fs::path const& net, Owner& o) {
  std::error_code ec;
  fs::path const device = fs::canonical(net / "device", ec);
  if (ec)
    return false;  // a virtual netdevice: no MDIO bus of its own
  for (auto const& bus : entries(device / "mdio_bus")) {
    std::string const id = bus + kChipDevice;
    fs::path const chip = sysfs / "bus/mdio_bus/devices" / id;
    if (auto driver = driverOf(chip); !driver.empty()) {
      o = {"driver \"" + driver + "\" is bound to the chip's MDIO device " + id +
               " (its pseudo-PHY address 0x1e)",
           unbindCommand(id, chip / "driver")};
      return true;
    }
  }
  return false;
}

// netdev is a DSA conduit; the driver is named when one of the switch's
// ports (a netdevice whose link is netdev) shows it.
bool dsaConduit(fs::path const& sysfs, std::string const& netdev, fs::path const& net, Owner& o) {
  std::error_code ec;
  if (!fs::is_directory(net / "dsa", ec))
    return false;
  o.what = netdev + " is the conduit of a switch that the kernel's DSA layer drives (" +
           (net / "dsa").string() + " exists)";
  o.how = "write the switch's device name to " +
          (sysfs / "class/net/PORT/device/driver/unbind").string() +
          ", PORT being one of the switch's ports, which `ip link show` lists as PORT@" + netdev;
  std::string const index = firstLine(net / "ifindex");
  if (index.empty())
    return true;
  for (auto const& port : entries(sysfs / "class/net")) {
    fs::path const p = sysfs / "class/net" / port;
    if (port == netdev || firstLine(p / "iflink") != index)
      continue;
    auto driver = driverOf(p / "device");
    fs::path const device = fs::canonical(p / "device", ec);
    if (driver.empty() || ec)
      continue;
    o.what = netdev +
             " is the conduit of a switch that the kernel's DSA layer drives with driver \"" +
             driver + "\", bound to " + device.filename().string() + " (the device of its port " +
             port + ")";
    o.how = unbindCommand(device.filename().string(), p / "device/driver");
    break;
  }
  return true;
}

}  // namespace

std::string sysfsRoot() {
  char const* env = std::getenv("AGENTHOST_SYSFS");
  return env && *env ? env : "/sys";
}

std::string kernelSwitchRefusal(std::string const& netdev, std::string const& sysfs) {
  fs::path const root(sysfs);
  fs::path const net = root / "class/net" / netdev;
  Owner o;
  if (boundOnMdioBus(root, net, o) || dsaConduit(root, netdev, net, o))
    return refusal(netdev, o);
  return {};
}

}  // namespace Host
