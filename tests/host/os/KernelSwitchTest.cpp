// The host refusing an MDIO netdevice whose switch the kernel's own driver
// owns, read from a sysfs tree of the test's own: the cases that refuse and
// those that must not, agenthost's exit status and message at start-up and
// with --probe, and a reload refused. (A real netdevice as the kernel's own
// sysfs shows it passes: MiiProbeOnTheKernel.)

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "host/Session.h"
#include "host/os/KernelSwitch.h"
#include "platform/bus/linux/MiiIoctlBus.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/ChipIoctl.h"
#include "tests/support/Loop.h"
#include "tests/support/Netns.h"

namespace {

namespace fs = std::filesystem;
using HostTest::HostProcess;
using HostTest::TempDir;

// A sysfs tree laid out as the kernel lays it out: a netdevice is a
// directory under its device (if it has one) that class/net links to, an
// MDIO bus a directory under the device that registered it, and each device
// on a bus is linked from bus/mdio_bus/devices and, when bound, links to
// its driver. All links are relative, as sysfs's are.
class Sysfs {
 public:
  std::string const& root() const { return dir_.path(); }

  // A netdevice; `device` is its device under devices/, "" for a virtual one.
  void netdev(std::string const& name, std::string const& device, int ifindex, int iflink) {
    fs::path const dir = device.empty() ? at("devices/virtual/net/" + name)
                                        : at("devices/" + device + "/net/" + name);
    fs::create_directories(dir);
    if (!device.empty())
      link(dir / "device", at("devices/" + device));
    link(at("class/net/" + name), dir);
    std::ofstream(dir / "ifindex") << ifindex << "\n";
    std::ofstream(dir / "iflink") << iflink << "\n";
  }
  // A device at `addr` (two hex digits) on MDIO bus `bus` registered under
  // `device`, bound to `driver` unless it is "".
  void mdioDevice(std::string const& device, std::string const& bus, std::string const& addr,
                  std::string const& driver) {
    fs::path const dir = at("devices/" + device + "/mdio_bus/" + bus + "/" + bus + ":" + addr);
    fs::create_directories(dir);
    link(at("bus/mdio_bus/devices/" + bus + ":" + addr), dir);
    if (!driver.empty())
      bind(dir, "mdio_bus", driver);
  }
  void bind(fs::path const& device, std::string const& bus, std::string const& driver) {
    fs::create_directories(at("bus/" + bus + "/drivers/" + driver));
    link(device / "driver", at("bus/" + bus + "/drivers/" + driver));
  }
  fs::path at(std::string const& rel) const { return fs::path(root()) / rel; }

 private:
  static void link(fs::path const& from, fs::path const& to) {
    fs::create_directories(from.parent_path());
    fs::create_directory_symlink(fs::relative(to, from.parent_path()), from);
  }
  TempDir dir_;
};

constexpr char const* kMac = "platform/soc/e000.ethernet";
constexpr char const* kOtherMac = "platform/soc/f000.ethernet";

// eth1, the MAC's netdevice (ifindex 3), with an MDIO bus of its own.
void mac(Sysfs& s) {
  s.netdev("eth1", kMac, 3, 3);
  s.mdioDevice(kMac, "mdio-1", "01", "Generic PHY");
}

// eth1 as the conduit of a switch the kernel's DSA layer drives.
void conduit(Sysfs& s) {
  mac(s);
  fs::create_directories(s.at("class/net/eth1/dsa"));
}

std::string const kRace =
    ", and the agent's MDIO accesses would race it. Check: unbind that driver (";
std::string const kLeave =
    "; to keep it unbound after a reboot, disable the switch in the device tree or blacklist "
    "the driver's module), or leave the chip to the kernel and do not run agenthost on it";

TEST(KernelSwitch, RefusesOnlyAChipTheKernelDrives) {
  struct Case {
    char const* what;
    std::function<void(Sysfs&)> make;
    std::string refusal;  // SYSFS stands for the tree's root; "" passes
  };
  // eth1 with one more device on one of its MDIO buses.
  auto macWith = [](std::string bus, std::string addr, std::string driver) {
    return [=](Sysfs& s) {
      mac(s);
      s.mdioDevice(kMac, bus, addr, driver);
    };
  };
  std::vector<Case> const cases{
      {"a virtual netdevice, with no device", [](Sysfs& s) { s.netdev("eth1", "", 7, 7); }, ""},
      {"a netdevice sysfs does not know", [](Sysfs&) {}, ""},
      {"PHY drivers bound on the bus, but not at the chip's address",
       macWith("mdio-1", "1f", "Generic PHY"), ""},
      {"an unbound device at the chip's address", macWith("mdio-1", "1e", ""), ""},
      {"a driver bound at the chip's address on another MAC's bus",
       [](Sysfs& s) {
         mac(s);
         s.netdev("eth0", kOtherMac, 2, 2);
         s.mdioDevice(kOtherMac, "mdio-0", "1e", "kswitch");
       },
       ""},
      {"a driver bound at the chip's address on the MAC's second bus",
       macWith("mdio-2", "1e", "kswitch"),
       "the kernel's switch driver owns the chip behind eth1: driver \"kswitch\" is bound to the "
       "chip's MDIO device mdio-2:1e (its pseudo-PHY address 0x1e)" +
           kRace + "echo mdio-2:1e > SYSFS/bus/mdio_bus/devices/mdio-2:1e/driver/unbind" + kLeave},
      {"a DSA conduit whose switch's port names the driver",
       [](Sysfs& s) {
         conduit(s);
         s.netdev("eth0", kOtherMac, 2, 2);  // another MAC's: no port of this switch
         s.netdev("lan1", "platform/soc/spi0/spi0.0", 5, 3);
         s.bind(s.at("devices/platform/soc/spi0/spi0.0"), "spi", "kswitch");
       },
       "the kernel's switch driver owns the chip behind eth1: eth1 is the conduit of a switch "
       "that the kernel's DSA layer drives with driver \"kswitch\", bound to spi0.0 (the device "
       "of its port lan1)" +
           kRace + "echo spi0.0 > SYSFS/class/net/lan1/device/driver/unbind" + kLeave},
      {"a DSA conduit without ports", conduit,
       "the kernel's switch driver owns the chip behind eth1: eth1 is the conduit of a switch "
       "that the kernel's DSA layer drives (SYSFS/class/net/eth1/dsa exists)" +
           kRace +
           "write the switch's device name to SYSFS/class/net/PORT/device/driver/unbind, PORT "
           "being one of the switch's ports, which `ip link show` lists as PORT@eth1" +
           kLeave},
  };
  for (auto const& c : cases) {
    Sysfs s;
    c.make(s);
    std::string want = c.refusal;
    for (auto at = want.find("SYSFS"); at != std::string::npos; at = want.find("SYSFS", at))
      want.replace(at, 5, s.root());
    EXPECT_EQ(Host::kernelSwitchRefusal("eth1", s.root()), want) << c.what;
  }
}

std::string applianceText(std::string const& netdev, bool second = false) {
  return R"(switch:
  managementInterfaces:
    - {intfId: Management1, cpuInterface: mgmt1, externalPort: 1, internalPort: 5}
)" + std::string(second ? "    - {intfId: Management2, externalPort: 2, internalPort: 6}\n" : "") +
         "mdio: {transport: mii-ioctl, netdev: " + netdev + "}\n";
}

// agenthost in a private network namespace, where no eth1 exists: a check
// that let it by would end in the MII ioctls' own refusal instead.
TEST(KernelSwitchOnTheKernel, AgentHostRefusesTheChipBeforeAnyMdioAccess) {
  REQUIRE_NETNS();
  TestSupport::NetNamespace ns;
  TempDir dir;
  Sysfs s;
  mac(s);
  s.mdioDevice(kMac, "mdio-1", "1e", "kswitch");
  auto const app = dir.file("eth1.yaml", applianceText("eth1"));
  auto const sysfs = [&] { ::setenv("AGENTHOST_SYSFS", s.root().c_str(), 1); };
  std::string const refusal =
      "agenthost: the kernel's switch driver owns the chip behind eth1: driver \"kswitch\" is "
      "bound to the chip's MDIO device mdio-1:1e (its pseudo-PHY address 0x1e)" +
      kRace + "echo mdio-1:1e > " + s.root() + "/bus/mdio_bus/devices/mdio-1:1e/driver/unbind" +
      kLeave + "\n";
  for (auto const& args :
       {std::vector<std::string>{"--probe", app}, std::vector<std::string>{"--no-control", app}}) {
    HostProcess h(dir, args, sysfs);
    EXPECT_EQ(h.wait(), 3) << args[0] << h.out() << h.err();
    EXPECT_EQ(h.err(), refusal) << args[0];
    EXPECT_EQ(h.out().find("loaded"), std::string::npos) << h.out();  // no agent
  }
}

// A running session on eth1 (its MII ioctls answered from a simulated
// chip): a reload while the kernel's DSA layer drives a switch behind eth1
// is refused whole, and applied once it no longer does.
TEST(KernelSwitch, AReloadIsRefusedWhileTheKernelDrivesTheChip) {
  TestSupport::resetLoop();
  Sysfs s;
  mac(s);
  HostTest::ScopedEnv env("AGENTHOST_SYSFS", s.root());
  TempDir dir;
  auto const file = dir.file("eth1.yaml", applianceText("eth1"));
  auto a = Host::loadAppliance(file);
  auto chip = Hardware::Mdio::Sim::Bcm53134Chip::Bcm53134ChipIs();
  TestSupport::ChipIoctl ioctl("eth1", *chip);
  Host::SessionOptions o;
  o.cpu = Host::CpuRequest::simulated;
  o.allowHostNetdevs = false;
  o.applianceFile = file;
  HostTest::QuietTimeline timeline;
  Host::Session session(a, o, *timeline,
                        Hardware::Mdio::Linux::MiiIoctlBus::MiiIoctlBusIs("eth1", ioctl));

  dir.file("eth1.yaml", applianceText("eth1", true));
  fs::create_directories(s.at("class/net/eth1/dsa"));
  auto outcome = session.reload("SIGHUP");
  EXPECT_EQ(outcome.result, Host::ReloadOutcome::Result::refused);
  EXPECT_EQ(outcome.lines, (std::vector<std::string>{
                               "SIGHUP: reloading " + file,
                               file + ": " + Host::kernelSwitchRefusal("eth1"),
                               "reload refused; the running configuration stays in force",
                           }));
  EXPECT_EQ(session.db().mgmtInterfaces().size(), 1u);

  fs::remove(s.at("class/net/eth1/dsa"));
  EXPECT_EQ(session.reload("SIGHUP").result, Host::ReloadOutcome::Result::applied);
  EXPECT_EQ(session.db().mgmtInterfaces().size(), 2u);
}

}  // namespace
