// Scenario files: timed steps with their texts, and each kind of bad step
// refused with the file, the line and what is wrong.

#include <gtest/gtest.h>

#include "tests/host/HostTestSupport.h"
#include "workbench/scenario/Scenario.h"

namespace {

constexpr char const* kGood = HostTest::kTwoInterfaceAppliance;

// Why a whole scenario file is refused: the message after the file name.
std::string fileRefusal(std::string const& text) {
  HostTest::TempDir dir;
  dir.file("appliance.yaml", kGood);
  return HostTest::refusalOf(dir, text, [](std::string const& p) { Host::loadScenario(p); });
}

std::string scenarioRefusal(std::string const& steps) {
  return fileRefusal("appliance: appliance.yaml\nsteps:\n" + steps);
}

TEST(ScenarioFile, ReadsTimedStepsWithTheirTexts) {
  HostTest::TempDir dir;
  dir.file("appliance.yaml", kGood);
  auto sc = Host::loadScenario(dir.file("s.yaml", R"(name: demo
appliance: appliance.yaml
end: 9
steps:
  - {at: 1, link: {port: 1, state: flap}}
  - {at: 2.5, expect: {port: 1, linkStatus: absent}}
  - {at: 2.5, set: {attr: "bcm53134Sm.pollPeriod", value: 1.0}}
  - {at: 3, expect: {attr: "bcm53134Sm.registerVal[x.y]", count: 4}}
  - {at: 4, note: hello}
)"));
  EXPECT_EQ(sc.name, "demo");
  EXPECT_EQ(sc.end, 9.0);
  EXPECT_EQ(sc.appliance.mgmtInterfaces.size(), 2u);
  ASSERT_EQ(sc.steps.size(), 5u);
  EXPECT_EQ(sc.steps[0].kind, Host::Step::Kind::event);
  EXPECT_EQ(sc.steps[0].text,
            "link 1 flap (down and up between two reads: only the latch sees it)");
  EXPECT_EQ(sc.steps[1].kind, Host::Step::Kind::expect);
  EXPECT_EQ(sc.steps[1].at, 2.5);
  EXPECT_EQ(sc.steps[1].text, "port 1 link status absent");
  EXPECT_EQ(sc.steps[2].text, "set bcm53134Sm.pollPeriod = 1.0");
  EXPECT_EQ(sc.steps[3].text, "bcm53134Sm.registerVal[x.y] has 4 members");
  EXPECT_EQ(sc.steps[4].kind, Host::Step::Kind::note);
}

TEST(ScenarioFile, BadStepsAndAppliancesAreRefusedWithLineAndReason) {
  EXPECT_EQ(scenarioRefusal("  - {at: 2, link: {port: 1, state: up}}\n"
                            "  - {at: 1, link: {port: 1, state: down}}\n"),
            ":4: steps[1] at 1.000000 comes before the step above it; steps are in time order");
  EXPECT_EQ(scenarioRefusal("  - {link: {port: 1, state: up}}\n"),
            ":3: steps[0] lacks 'at' (seconds of virtual time)");
  EXPECT_EQ(scenarioRefusal("  - {at: 1, link: {port: 1, state: up}, note: x}\n").substr(0, 40),
            ":3: steps[0] needs exactly one of: expec");
  EXPECT_EQ(scenarioRefusal("  - {at: 1, unplug: {port: 1}}\n").substr(0, 29),
            ":3: unknown step 'unplug' (on");
  EXPECT_EQ(scenarioRefusal("  - {at: 1, link: {port: 9, state: up}}\n"),
            ":3: steps[0].link.port 9 is out of range (0 to 7)");
  EXPECT_EQ(scenarioRefusal("  - {at: 1, expect: {port: 1, linkStatus: 2}}\n"),
            ":3: steps[0].expect.linkStatus must be 0, 1 or absent, not '2'");
  EXPECT_EQ(scenarioRefusal("  - {at: 1, expect: {port: 1}}\n").substr(0, 45),
            ":3: steps[0].expect: unknown expectation (one");
  EXPECT_EQ(scenarioRefusal("  - {at: 1, expect: {port: 1, register: auxControl}}\n"),
            ":3: steps[0].expect needs exactly one of value, reads or writes");
  EXPECT_EQ(scenarioRefusal("  - {at: 1, mgmtAdd: {intfId: M3, cpuInterface: "
                            "abcdefghijklmnop, externalPort: 3, internalPort: 7}}\n"),
            ":3: steps[0].mgmtAdd.cpuInterface 'abcdefghijklmnop' is 16 bytes long; a netdevice "
            "name has at most 15");
  EXPECT_EQ(scenarioRefusal("  - {at: 1, ham: maybe}\n"),
            ":3: steps[0].ham must be present, absent or replaced, not 'maybe'");

  // An inline appliance is read (a bad trace spec after it is refused), but
  // not one on a real MDIO bus.
  EXPECT_EQ(fileRefusal("trace: Bcm53134Agent\nappliance:\n  switch: {managementInterfaces: []}\n"
                        "steps: []\n"),
            ":1: bad trace spec 'Bcm53134Agent' (expected FACILITY/LEVELS, e.g. "
            "Bcm53134Agent/0,1,8)");
  EXPECT_EQ(fileRefusal(R"(appliance:
  switch: {managementInterfaces: []}
  mdio: {transport: mii-ioctl, netdev: eth1}
steps: []
)"),
            ":1: the appliance's MDIO bus is mii-ioctl on eth1; a scenario drives the simulated "
            "chip and needs mdio.transport: sim");
}

}  // namespace
