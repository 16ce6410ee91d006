// Appliance descriptions: what is accepted, and that each kind of bad input
// is refused with the file, the line and what is wrong.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "host/appliance/Appliance.h"
#include "host/appliance/ApplianceJson.h"
#include "tests/host/HostTestSupport.h"
#include "workbench/scenario/Scenario.h"

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
  EXPECT_FALSE(a.pollPeriod) << "the agent's own";
  EXPECT_EQ(
      Host::loadAppliance(dir.file("b.yaml", replaced(kGood, "  bus: 2", "  pollPeriod: 0.25")))
          .pollPeriod,
      0.25);
  EXPECT_EQ(a.netdevices, Host::NetdevMode::privateNamespace);
  EXPECT_EQ(a.cpuInterfaceNames(), std::vector<std::string>{"mgmt1"});
  // The file installed under /etc starts without touching this machine.
  EXPECT_EQ(Host::loadAppliance(SHIPPED_APPLIANCE).netdevices, Host::NetdevMode::privateNamespace);

  // Two management interfaces on one switch port are allowed, with a word.
  EXPECT_TRUE(a.sharedPortWarnings().empty());
  EXPECT_EQ(
      Host::loadAppliance(dir.file("c.yaml", replaced(kGood, "internalPort: 6", "internalPort: 1")))
          .sharedPortWarnings(),
      std::vector<std::string>{
          "warning: switch port 1 is used by Management1 (external) and Management2 "
          "(internal): they share its register records, and Management2, visited last, "
          "decides a shared register"});

  // JSON is accepted too.
  auto j = Host::loadAppliance(dir.file("a.json", R"({"switch": {"managementInterfaces": [
        {"intfId": "Management1", "externalPort": 3, "internalPort": 4}]},
        "netdevices": "host", "chip": {"drivesHostNetdevices": true}})"));
  EXPECT_TRUE(j.ham);
  EXPECT_EQ(j.mgmtInterfaces.at(0).externalPort, 3u);
  EXPECT_EQ(j.netdevices, Host::NetdevMode::hostNamespace);
}

// A bus record's first line carries the appliance in JSON: it reads back to
// the same appliance, on either transport, and a damaged one is refused as
// the file would be, at the record's line.
TEST(ApplianceFile, ItsJsonReadsBackWithTheFilesChecks) {
  HostTest::TempDir dir;
  auto a = Host::loadAppliance(
      dir.file("a.yaml", replaced(kGood, "  bus: 2", "  bus: 2\n  pollPeriod: 0.25")));
  auto mii = Host::loadAppliance(
      dir.file("b.yaml", noChip + "mdio: {transport: mii-ioctl, netdev: eth1}\n"));
  auto hostNetdevs = Host::loadAppliance(
      dir.file("c.yaml", std::string(kGood) + "  drivesHostNetdevices: true\nnetdevices: host\n"));
  for (auto const& original : {a, mii, hostNetdevs}) {
    auto json = Host::applianceJson(original);
    auto back = Host::applianceFromJson(json, "r.jsonl", 1);
    EXPECT_EQ(back.file, "r.jsonl");
    EXPECT_EQ(Host::applianceJson(back), json);
    EXPECT_EQ(back.mgmtInterfaces, original.mgmtInterfaces);
    EXPECT_EQ(back.pollPeriod, original.pollPeriod);
    EXPECT_EQ(back.slices.at(1).interfaces.at(0).state,
              original.slices.at(1).interfaces.at(0).state);
  }
  auto json = Host::applianceJson(a);
  json["switch"]["managementInterfaces"][0]["externalPort"] = 9;
  try {
    Host::applianceFromJson(json, "r.jsonl", 1);
    ADD_FAILURE() << "accepted";
  } catch (InputError const& e) {
    EXPECT_STREQ(e.what(),
                 "r.jsonl:1: managementInterfaces[0].externalPort 9 is out of range (0 to 7)");
  }
}

TEST(ApplianceFile, EachKindOfBadInputIsRefusedWithLineAndReason) {
  struct Case {
    std::string text;
    std::string message;  // what follows the file name
  };
  std::vector<Case> cases = {
      {replaced(kGood, "  bus: 2", "  bsu: 2"),
       ":3: unknown key 'bsu' in switch (known keys: ham, bus, managementInterfaces, "
       "pollPeriod)"},
      {replaced(kGood, "  bus: 2", "  bus: 2\n  pollPeriod: 0"),
       ":4: switch.pollPeriod must be from 0.001 to 86400 seconds, not '0'"},
      {replaced(kGood, "  bus: 2", "  bus: 2\n  pollPeriod: 86401"),
       ":4: switch.pollPeriod must be from 0.001 to 86400 seconds, not '86401'"},
      {replaced(kGood, "  bus: 2", "  bus: 2\n  pollPeriod: -1"),
       ":4: switch.pollPeriod must be a number of seconds, not '-1'"},
      {replaced(kGood, "  bus: 2", "  bus: 2\n  pollPeriod: 2s"),
       ":4: switch.pollPeriod must be a number of seconds, not '2s'"},
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
      {std::string(kGood) + "netdevices: host\n",
       ":18: netdevices: host lets the simulated chip's links drive this machine's own "
       "netdevices; reach the real chip (mdio: {transport: mii-ioctl, netdev: NAME}), or, "
       "where these netdevices are expendable, say so with chip: {drivesHostNetdevices: true}"},
  };
  for (auto const& c : cases)
    EXPECT_EQ(refusal(c.text), c.message) << c.text;
}

// Missing and odd files are refused for what they are, without blocking and
// before anything is parsed.
TEST(InputFiles, DirectoriesFifosHugeFilesAndHugeValuesAreRefusedBriefly) {
  HostTest::TempDir dir;
  auto message = [](std::string const& path) {
    try {
      Host::loadAppliance(path);
    } catch (InputError const& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  // Scenarios are read through the same reader as appliances.
  EXPECT_EQ(message(dir.path()), dir.path() + ": is a directory; give a file");
  auto fifo = dir.path() + "/fifo";
  ::mkfifo(fifo.c_str(), 0600);  // nobody writes to it: reading must not wait
  EXPECT_EQ(message(fifo),
            fifo + ": is not a regular file (a FIFO, socket or device); give a file");
  EXPECT_EQ(message("/dev/zero"),
            "/dev/zero: is not a regular file (a FIFO, socket or device); give a file");
  EXPECT_EQ(message("/nonexistent/appliance.yaml"),
            "/nonexistent/appliance.yaml: cannot open: No such file or directory");
  auto big = dir.file("big.yaml", "# " + std::string(1024 * 1024, 'x') + "\n");
  EXPECT_EQ(message(big),
            big + ": is 1048579 bytes long; an input file has at most 1048576 bytes (1 MiB)");
}

// Every refusal that quotes a value quotes at most its first characters and
// its length: one row per field that is quoted.
TEST(ApplianceFile, LongValuesAreQuotedByTheirStart) {
  std::string const v(900, 'z');  // a key of YAML has at most 1024
  std::string const mdio = noChip + "mdio: {transport: mii-ioctl, netdev: eth0}\n";
  for (auto const& text : {
           replaced(kGood, "bus: 2", "bus: " + v),
           replaced(kGood, "ham: false", "ham: " + v),
           replaced(kGood, "accessTime: 0.5", "accessTime: " + v),
           replaced(kGood, "cpuInterface: mgmt1", "cpuInterface: " + v),
           replaced(kGood, "cpuInterface: mgmt1", v + ": 1"),  // an unknown key
           replaced(replaced(kGood, "intfId: Management1", "intfId: " + v), "intfId: Management2",
                    "intfId: " + v),
           replaced(kGood, "slice1:", v + "/:"),
           replaced(kGood, "slice1: {Management1: enabled}", v + ": 1"),
           replaced(kGood, "Management1: enabled", "Management1: " + v),
           replaced(kGood, "{1: up, 2: down}", "{1: " + v + "}"),
           replaced(kGood, "chip:", "netdevices: " + v + "\nchip:"),
           replaced(mdio, "transport: mii-ioctl", "transport: " + v),
           replaced(mdio, "netdev: eth0", "netdev: " + v),
       }) {
    auto msg = refusal(text);
    EXPECT_LT(msg.size(), 240u) << msg.substr(0, 300);
    EXPECT_NE(msg.find(std::string(72, 'z') + "... ("), std::string::npos) << msg;
  }
  // Scenario steps quote through the same rule.
  HostTest::TempDir dir;
  dir.file("appliance.yaml", kGood);
  for (auto const& step :
       {"{at: 1, link: {port: 1, state: " + v + "}}", "{at: 1, ham: " + v + "}",
        "{at: 1, expect: {port: 1, linkStatus: " + v + "}}", "{at: 1, " + v + ": 1}",
        "{at: 1, expect: {metric: agenthost_up, value: " + v + "}}"}) {
    auto msg = HostTest::refusalOf(dir, "appliance: appliance.yaml\nsteps:\n  - " + step + "\n",
                                   [](std::string const& p) { Host::loadScenario(p); });
    EXPECT_LT(msg.size(), 400u) << msg.substr(0, 300);
    EXPECT_NE(msg.find(std::string(72, 'z') + "... ("), std::string::npos) << msg;
  }
}

}  // namespace
