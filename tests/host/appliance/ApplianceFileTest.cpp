// Appliance descriptions: what is accepted, and that each kind of bad input
// is refused with the file, the line and what is wrong.

#include <gtest/gtest.h>

#include "host/appliance/Appliance.h"
#include "tests/host/HostTestSupport.h"

namespace {

using Host::InputError;

constexpr char const* kGood = HostTest::kTwoInterfaceAppliance;
// The same without its chip section, which ends the file (14 lines).
std::string const noChip = std::string(kGood).substr(0, std::string(kGood).find("chip:"));

std::string refusal(std::string const& text) {
  HostTest::TempDir dir;
  return HostTest::refusalOf(dir, text, [](std::string const& p) { Host::loadAppliance(p); });
}

std::string replaced(std::string text, std::string const& from, std::string const& to) {
  auto pos = text.find(from);
  EXPECT_NE(pos, std::string::npos) << from;
  return text.replace(pos, from.size(), to);
}

TEST(ApplianceFile, ReadsEverythingItStates) {
  HostTest::TempDir dir;
  auto a = Host::loadAppliance(dir.file("a.yaml", kGood));
  EXPECT_FALSE(a.ham);
  EXPECT_EQ(a.bus, 2u);
  ASSERT_EQ(a.mgmtInterfaces.size(), 2u);
  EXPECT_EQ(a.mgmtInterfaces[0].cpuInterface, "mgmt1");
  EXPECT_EQ(a.mgmtInterfaces[1].cpuInterface, "");
  EXPECT_EQ(a.mgmtInterfaces[1].externalPort, 2u);
  EXPECT_EQ(a.mgmtInterfaces[1].internalPort, 6u);
  ASSERT_EQ(a.slices.size(), 2u);
  EXPECT_EQ(a.slices[1].interfaces[0].state, Interface::IntfEnabledState::disabled);
  EXPECT_EQ(a.links, (std::map<unsigned, bool>{{1, true}, {2, false}}));
  EXPECT_DOUBLE_EQ(a.accessTime, 0.5);
  EXPECT_EQ(a.netdevices, Host::NetdevMode::privateNamespace);
  EXPECT_EQ(a.cpuInterfaceNames(), std::vector<std::string>{"mgmt1"});
}

TEST(ApplianceFile, JsonIsAcceptedToo) {
  HostTest::TempDir dir;
  auto a = Host::loadAppliance(dir.file("a.json", R"({"switch": {"managementInterfaces": [
        {"intfId": "Management1", "externalPort": 3, "internalPort": 4}]},
        "netdevices": "host"})"));
  EXPECT_TRUE(a.ham);
  EXPECT_EQ(a.mgmtInterfaces.at(0).externalPort, 3u);
  EXPECT_EQ(a.netdevices, Host::NetdevMode::hostNamespace);
}

TEST(ApplianceFile, EachKindOfBadInputIsRefusedWithLineAndReason) {
  struct Case {
    std::string text;
    std::string message;  // what follows the file name
  };
  std::vector<Case> cases = {
      {replaced(kGood, "  bus: 2", "  bsu: 2"),
       ":3: unknown key 'bsu' in switch (known keys: ham, bus, managementInterfaces)"},
      {replaced(kGood, "      externalPort: 2\n", ""),
       ":9: managementInterfaces[1] lacks the required key 'externalPort'"},
      {replaced(kGood, "externalPort: 2", "externalPort: 8"),
       ":10: managementInterfaces[1].externalPort 8 is out of range (0 to 7)"},
      {replaced(kGood, "internalPort: 6", "internalPort: -1"),
       ":11: managementInterfaces[1].internalPort must be a number, not '-1'"},
      {replaced(kGood, "intfId: Management2", "intfId: Management1"),
       ":9: interface id Management1 is used by two management interfaces"},
      {replaced(kGood, "cpuInterface: mgmt1", "cpuInterface: mgmt-interface-1x"),
       ":6: managementInterfaces[0].cpuInterface 'mgmt-interface-1x' is 17 bytes long; a "
       "netdevice name has at most 15"},
      {replaced(kGood, "cpuInterface: mgmt1", "cpuInterface: mgmt/1"),
       ":6: managementInterfaces[0].cpuInterface 'mgmt/1' contains a character a netdevice name "
       "cannot have"},
      {replaced(kGood, "internalPort: 5", "internalPort: 1"),
       ":8: managementInterfaces[0]: the external and the internal port are both 1"},
      {replaced(kGood, "  links: {1: up", "  links: {1: sideways"),
       ":16: chip.links.1 must be up or down, not 'sideways'"},
      {replaced(kGood, "Ethernet7: enabled", "Management1: enabled"),
       ":14: interface Management1 is configured twice (an interface has one entry)"},
      {replaced(kGood, "Management1: enabled}", "Management1: on}"),
       ":13: interfaceConfig.slice1.Management1 must be enabled, disabled or "
       "unknownEnabledState, not 'on'"},
      {replaced(kGood, "  ham: false\n", "  ham: false\n  ham: true\n"),
       ":3: key 'ham' given twice in switch"},
      {replaced(kGood, "      internalPort: 6\n", "      internalPort: [6\n"),
       ":12: YAML syntax error: end of sequence flow not found"},
      {std::string(kGood) + "netdevices: everywhere\n",
       ":18: netdevices must be private or host, not 'everywhere'"},
      {"switch: {}\n", ":1: switch lacks the required key 'managementInterfaces'"},
      {std::string(kGood) + "mdio: {transport: mii-ioctl, netdev: eth1}\n",
       ":15: chip describes the simulated chip, which mdio.transport mii-ioctl does not use; "
       "leave chip out"},
      {noChip + "mdio: {transport: mii-ioctl}\n",
       ":15: mdio.netdev is needed with transport mii-ioctl: the netdevice whose MAC drives the "
       "switch's MDIO bus, e.g. netdev: eth1"},
      {noChip + "mdio: {transport: mdio-gpio, netdev: eth1}\n",
       ":15: mdio.transport must be sim or mii-ioctl, not 'mdio-gpio'"},
      {noChip + "mdio:\n  transport: mii-ioctl\n  netdev: eth-switch-uplink0\n",
       ":17: mdio.netdev 'eth-switch-uplink0' is 18 bytes long; a netdevice name has at most 15"},
      {noChip + "mdio: {transport: mii-ioctl, netdev: ''}\n", ":15: mdio.netdev must not be empty"},
      {std::string(kGood) + "mdio: {netdev: eth1}\n",
       ":18: mdio.netdev applies to transport mii-ioctl only; the simulated chip has none"},
      {"", ": the file is empty"},
  };
  for (auto const& c : cases)
    EXPECT_EQ(refusal(c.text), c.message) << c.text;
}

// The appliance's own MDIO bus instead of the simulated chip.
TEST(ApplianceFile, MdioTransport) {
  HostTest::TempDir dir;
  auto a = Host::loadAppliance(
      dir.file("a.yaml", noChip + "mdio:\n  transport: mii-ioctl\n  netdev: eth1\n"));
  EXPECT_EQ(a.mdio, Host::MdioTransport::miiIoctl);
  EXPECT_EQ(a.mdioNetdev, "eth1");
  EXPECT_EQ(Host::loadAppliance(dir.file("b.yaml", kGood)).mdio, Host::MdioTransport::sim);
}

TEST(ApplianceFile, MissingFileIsNamed) {
  try {
    Host::loadAppliance("/nonexistent/appliance.yaml");
    FAIL();
  } catch (InputError const& e) {
    EXPECT_EQ(std::string(e.what()),
              "/nonexistent/appliance.yaml: cannot open: No such file or directory");
  }
}

}  // namespace
