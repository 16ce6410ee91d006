// The look at the appliance's MDIO bus that the host takes before the agent
// touches it: the probe's report on the simulated chip, and agenthost
// refusing a netdevice that passes no MII ioctls, one that does not exist,
// and a process without CAP_NET_ADMIN, with exit status 3 and what to check.

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "host/appliance/StateDb.h"
#include "host/os/MiiProbe.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/Emulation.h"
#include "tests/support/Netns.h"

namespace {

using HostTest::HostProcess;
using Chip = Hardware::Mdio::Sim::Bcm53134Chip;

// Management1 on ports 1/5, Management2 on 2/6 and Management3 on 3/5 (it
// shares its internal port); port 1 up, with a drop only the latch saw.
TEST(MiiProbe, ReportsEveryPortOnceWithItsRegisters) {
  auto a = HostTest::twoInterfaces();
  a.mgmtInterfaces.push_back({"Management3", "", 3, 5});
  Host::StateDb db(a);
  db.chip().linkFlap(1);
  db.chip().regIs(2, Chip::kExtCtrl, 0x3000);
  db.chip().regIs(2, Chip::kAuxCtrl, 0x430);

  EXPECT_EQ(Host::probeMdio(db.bus(), a.portUsers(), false),
            (std::vector<std::string>{
                "port 1 (Management1 external): PHY identifier 0xae02 0x5071",
                "port 5 (Management1 internal, Management3 internal): PHY identifier 0xae02 0x5071",
                "port 2 (Management2 external): PHY identifier 0xae02 0x5071",
                "port 6 (Management2 internal): PHY identifier 0xae02 0x5071",
                "port 3 (Management3 external): PHY identifier 0xae02 0x5071",
            }));
  auto const full = Host::probeMdio(db.bus(), a.portUsers(), true);
  ASSERT_EQ(full.size(), 5u);
  EXPECT_EQ(full[0],
            "port 1 (Management1 external): PHY identifier 0xae02 0x5071; MII status 0x796d, "
            "link up (a drop was latched since the last read); extended control 0x0000; "
            "auxiliary control 0x0000");
  EXPECT_EQ(full[2],
            "port 2 (Management2 external): PHY identifier 0xae02 0x5071; MII status 0x7949, "
            "link down; extended control 0x3000; auxiliary control 0x0430");
  // Only reads: nothing on the chip changed.
  EXPECT_EQ(db.chip().registerWrites(), 0u);
}

// Takes CAP_NET_ADMIN away for good: from the bounding set, so that
// executing agenthost as root does not bring it back, and from the sets the
// process holds now.
void dropNetAdmin() {
  ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  ::prctl(PR_CAPBSET_DROP, CAP_NET_ADMIN, 0, 0, 0);
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  ::syscall(SYS_capget, &header, data);
  for (auto& d : data) {
    d.effective &= ~CAP_TO_MASK(CAP_NET_ADMIN);
    d.permitted &= ~CAP_TO_MASK(CAP_NET_ADMIN);
    d.inheritable &= ~CAP_TO_MASK(CAP_NET_ADMIN);
  }
  ::syscall(SYS_capset, &header, data);
}

// agenthost in a private namespace with a veth pair v0/v1, which has no
// MDIO bus and refuses the MII ioctls.
class MiiProbeOnTheKernel : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_UNDER_EMULATION(TestSupport::kMiiIoctlsUntranslated);
    REQUIRE_NETNS();
    ns = std::make_unique<TestSupport::NetNamespace>();
    ns->ip("link add v0 type veth peer name v1");
    ns->ip("link set v0 up");
  }
  std::string appliance(std::string const& netdev) const {
    return dir.file(netdev + ".yaml", R"(switch:
  managementInterfaces:
    - {intfId: Management1, cpuInterface: mgmt1, externalPort: 1, internalPort: 5}
mdio: {transport: mii-ioctl, netdev: )" + netdev +
                                          R"(}
netdevices: host
)");
  }
  HostTest::TempDir dir;
  std::unique_ptr<TestSupport::NetNamespace> ns;
};

// Each refusal ends the start before any agent is loaded. The kernel's own
// sysfs, mounted for the namespace the veth is in, shows v0 as a virtual
// netdevice: the check for a kernel's switch driver lets it pass on to the
// MII ioctls.
TEST_F(MiiProbeOnTheKernel, EachNetdeviceThatCannotBeReachedIsRefusedBeforeTheAgentStarts) {
  std::string const mnt = dir.path() + "/sys";
  std::filesystem::create_directory(mnt);
  auto const ownSysfs = [&] {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        ::mount("sysfs", mnt.c_str(), "sysfs", 0, nullptr) != 0)
      ::_exit(99);
    ::setenv("AGENTHOST_SYSFS", mnt.c_str(), 1);
  };
  std::string const failed = "agenthost: MDIO read of PHY 1 register 0x2 on ";
  std::string const noMdio =
      failed +
      "v0 failed: Operation not supported. Check: the driver of v0 does not pass MII "
      "ioctls on to an MDIO bus";
  struct Case {
    std::vector<std::string> args;
    std::function<void()> inChild;
    std::string refusal;
  } const cases[] = {
      {{"--probe", appliance("v0")}, ownSysfs, noMdio},
      {{"--no-control", appliance("v0")}, {}, noMdio},
      {{"--probe", appliance("nosuch0")},
       {},
       failed + "nosuch0 failed: No such device. Check: there is no netdevice nosuch0 here: check "
                "mdio.netdev against the names `ip link show` lists"},
      {{"--probe", appliance("v0")},
       dropNetAdmin,
       failed + "v0 failed: Operation not permitted. Check: the MII ioctls need the capability "
                "CAP_NET_ADMIN, which this process lacks: run agenthost as root or give it "
                "CAP_NET_ADMIN (in a systemd unit: AmbientCapabilities=CAP_NET_ADMIN)"},
  };
  for (auto const& c : cases) {
    HostProcess h(dir, c.args, c.inChild);
    EXPECT_EQ(h.wait(), 3) << h.out() << h.err();
    EXPECT_EQ(h.err().rfind(c.refusal, 0), 0u) << h.err();
    EXPECT_EQ(h.err().find('\n'), h.err().size() - 1) << "one line: " << h.err();
    EXPECT_EQ(h.out().find("loaded"), std::string::npos) << h.out();  // no agent
  }
}

}  // namespace
