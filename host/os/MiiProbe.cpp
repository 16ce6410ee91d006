#include "host/os/MiiProbe.h"

#include <net/if.h>

#include <cerrno>
#include <cstdio>

#include "platform/bus/linux/MiiIoctlBus.h"

namespace Host {

namespace {

using Hardware::Mdio::Linux::MiiIoctlBus;

// What to check when the access failed with this errno on the MII ioctl bus.
std::string advice(MiiIoctlBus const& bus, int err, unsigned port) {
  std::string const& dev = bus.netdev();
  switch (err) {
    case EPERM:
    case EACCES:
      return "the MII ioctls need the capability CAP_NET_ADMIN, which this process lacks: run "
             "agenthost as root or give it CAP_NET_ADMIN (in a systemd unit: "
             "AmbientCapabilities=CAP_NET_ADMIN)";
    case ENODEV:
      if (::if_nametoindex(dev.c_str()) == 0) {
        return "there is no netdevice " + dev +
               " here: check mdio.netdev against the names `ip link show` lists";
      }
      return "the driver of " + dev +
             " has no PHY layer to answer MII ioctls now: some drivers answer only while the "
             "netdevice is up (ip link set " +
             dev + " up) or while a PHY is attached to it";
    case EOPNOTSUPP:
    case ENOTTY:
    case EINVAL:
      return "the driver of " + dev +
             " does not pass MII ioctls on to an MDIO bus (a veth, bridge or other virtual "
             "device never does): mdio.netdev must name the Ethernet MAC whose MDIO bus the "
             "switch hangs on, with a driver that hands MII ioctls to the PHY layer, which "
             "serves every PHY address on the bus (some drivers answer only for their own PHY)";
    default:
      return "the MDIO bus of " + dev +
             " failed the access: check that the switch is powered and out of reset, and that "
             "port " +
             std::to_string(port) + " is PHY address " + std::to_string(port) + " on that bus";
  }
}

std::string hex4(std::uint16_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04x", v);
  return buf;
}

// Mutes the bus's failure trace for the life of the object.
class QuietBus {
 public:
  QuietBus() : mask_(Hardware::Mdio::Linux::mdioTrace().mask()) {
    Hardware::Mdio::Linux::mdioTrace().maskIs(0);
  }
  ~QuietBus() { Hardware::Mdio::Linux::mdioTrace().maskIs(mask_); }
  QuietBus(QuietBus const&) = delete;
  QuietBus& operator=(QuietBus const&) = delete;

 private:
  std::uint32_t mask_;
};

}  // namespace

std::vector<std::string> probeMdio(Hardware::Mdio::Bus& bus, ProbePorts const& ports, bool full) {
  QuietBus quiet;
  std::vector<std::string> lines;
  for (auto const& [port, users] : ports) {
    auto const phy = static_cast<Hardware::Mdio::PortAddr>(port);
    auto read = [&](std::uint8_t reg) {
      auto r = bus.read(phy, reg);
      if (r.ok())
        return r.value;
      std::string what = r.error;
      if (auto const* real = dynamic_cast<MiiIoctlBus const*>(&bus))
        what += ". Check: " + advice(*real, real->lastError(), port);
      throw MiiProbeError(what);
    };
    std::uint16_t const id1 = read(2), id2 = read(3);
    std::string line = "port " + std::to_string(port) + " (" + users + "): PHY identifier " +
                       hex4(id1) + " " + hex4(id2);
    if ((id1 == 0xffff && id2 == 0xffff) || (id1 == 0 && id2 == 0))
      line += " (no PHY answers at this address)";
    if (full) {
      std::uint16_t const latched = read(1), now = read(1);
      line += "; MII status " + hex4(now) + ", link " + ((now & 4) ? "up" : "down");
      if ((now & 4) && !(latched & 4))
        line += " (a drop was latched since the last read)";
      line += "; extended control " + hex4(read(0x10));
      line += "; auxiliary control " + hex4(read(0x18));
    }
    lines.push_back(line);
  }
  return lines;
}

}  // namespace Host
