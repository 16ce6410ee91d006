#include <fcntl.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sched.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/bus/linux/MiiIoctlBus.h"
#include "tests/support/ChipIoctl.h"
#include "tests/support/Emulation.h"
#include "tests/support/Loop.h"
#include "tests/support/Netns.h"

namespace {

using Hardware::Mdio::Linux::MiiIoctlBus;
using Chip = Hardware::Mdio::Sim::Bcm53134Chip;

// The bus against the real kernel: a private namespace with a veth pair
// v0/v1. A veth has no MDIO bus and refuses the MII ioctls.
TEST(MiiIoctlBusKernel, RefusalsBecomeErrorTextsWithTheKernelsReason) {
  SKIP_UNDER_EMULATION(TestSupport::kMiiIoctlsUntranslated);
  REQUIRE_NETNS();
  TestSupport::TraceCapture quiet("Mdio/0");
  int const hostNs = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(hostNs, 0);
  TestSupport::NetNamespace ns;
  ns.ip("link add v0 type veth peer name v1");
  ns.ip("link set v0 up");

  // The kernel's reasons for a veth and for no netdevice at all reach
  // agenthost's own refusals (MiiProbeOnTheKernel); here, the namespace.
  auto bus = MiiIoctlBus::MiiIoctlBusIs("v0");
  auto r = bus->read(1, 0x10);
  EXPECT_EQ(r.value, 0);
  EXPECT_EQ(bus->lastError(), EOPNOTSUPP);
  EXPECT_EQ(bus->write(30, 0x18, 0x430).error,
            "MDIO write of PHY 30 register 0x18 on v0 failed: Operation not supported");

  // The netdevice is looked up in the namespace the bus was made in, even
  // when its user has moved on (as the host does into its private one).
  int const testNs = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::setns(hostNs, CLONE_NEWNET), 0);
  EXPECT_EQ(bus->read(1, 1).error,
            "MDIO read of PHY 1 register 0x1 on v0 failed: Operation not supported");
  ASSERT_EQ(::setns(testNs, CLONE_NEWNET), 0);
  ::close(testNs);
  ::close(hostNs);
  // How often a failing access is traced is the seam's case below.
}

// The bus over a stand-in for the kernel's ioctl answering from a simulated
// chip on netdevice eth1.
class MiiIoctlBusSeam : public ::testing::Test {
 protected:
  Orba::Ptr<Chip> chip = Chip::Bcm53134ChipIs();
  TestSupport::ChipIoctl ioctl{"eth1", *chip};
  Orba::Ptr<MiiIoctlBus> bus = MiiIoctlBus::MiiIoctlBusIs("eth1", ioctl);
};

TEST_F(MiiIoctlBusSeam, CarriesClause22AccessesAndRefusesOthersWithoutAskingTheKernel) {
  EXPECT_TRUE(bus->write(1, 0x10, 0x3000).ok());
  EXPECT_EQ(chip->reg(1, 0x10), 0x3000);
  auto r = bus->read(1, 0x10);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.value, 0x3000);
  EXPECT_EQ(bus->read(3, 2).value, 0xae02);
  EXPECT_EQ(bus->lastError(), 0);
  using A = TestSupport::BusAccess;
  EXPECT_EQ(
      ioctl.accesses,
      (std::vector<A>{{true, 1, 0x10, 0x3000}, {false, 1, 0x10, 0x3000}, {false, 3, 2, 0xae02}}));

  // Not a clause-22 address: refused without asking the kernel.
  auto const calls = ioctl.calls;
  EXPECT_EQ(bus->read(32, 1).error,
            "MDIO read of PHY 32 register 0x1 on eth1 failed: Invalid argument");
  EXPECT_EQ(bus->write(1, 32, 0).error,
            "MDIO write of PHY 1 register 0x20 on eth1 failed: Invalid argument");
  EXPECT_EQ(ioctl.calls, calls);
  // Nor is a name the kernel cannot take.
  EXPECT_THROW(MiiIoctlBus::MiiIoctlBusIs(""), std::invalid_argument);
  EXPECT_THROW(MiiIoctlBus::MiiIoctlBusIs("sixteen-bytes-xx"), std::invalid_argument);
  EXPECT_NO_THROW(MiiIoctlBus::MiiIoctlBusIs("fifteen-bytes-x"));
}

TEST_F(MiiIoctlBusSeam, AFailingAccessIsTracedWhenItStartsChangesAndEnds) {
  TestSupport::TraceCapture tc("Mdio/0");
  ioctl.failWith = EIO;
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(bus->read(1, 1).error,
              "MDIO read of PHY 1 register 0x1 on eth1 failed: Input/output error");
  }
  EXPECT_FALSE(bus->read(2, 1).ok());  // another access fails on its own account
  ioctl.failWith = ENODEV;
  EXPECT_FALSE(bus->read(1, 1).ok());
  ioctl.failWith = 0;
  EXPECT_TRUE(bus->read(1, 1).ok());
  EXPECT_TRUE(bus->read(1, 1).ok());
  EXPECT_EQ(bus->failingAccesses(), 1u);  // PHY 2 has not been read since
  std::string const suffix = "; not traced again until it succeeds or fails otherwise";
  EXPECT_EQ(
      tc.sink.messages(),
      (std::vector<std::string>{
          "ADDR::access: MDIO read of PHY 1 register 0x1 on eth1 failed: Input/output error" +
              suffix,
          "ADDR::access: MDIO read of PHY 2 register 0x1 on eth1 failed: Input/output error" +
              suffix,
          "ADDR::access: MDIO read of PHY 1 register 0x1 on eth1 failed: No such device" + suffix,
          "ADDR::access: MDIO read of PHY 1 register 0x1 on eth1 succeeds again after 6 failures",
      }));
}

}  // namespace
