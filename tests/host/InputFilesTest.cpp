// Appliance descriptions and scenarios: what is accepted, and that each kind
// of bad input is refused with the file, the line and what is wrong.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/Appliance.h"
#include "host/Scenario.h"
#include "tests/host/HostTestSupport.h"

namespace {

using Host::InputError;

// Two management interfaces, ports 1/5 (CPU netdevice mgmt1) and 2/6 (none).
constexpr char const* kGood = R"(switch:
  ham: false
  bus: 2
  managementInterfaces:
    - intfId: Management1
      cpuInterface: mgmt1
      externalPort: 1
      internalPort: 5
    - intfId: Management2
      externalPort: 2
      internalPort: 6
interfaceConfig:
  slice1: {Management1: enabled}
  slice2: {Management2: disabled, Ethernet7: enabled}
chip:
  links: {1: up, 2: down}
  accessTime: 0.5
)";

std::string refusal(std::string const& text) {
  HostTest::TempDir dir;
  auto path = dir.file("appliance.yaml", text);
  try {
    Host::loadAppliance(path);
  } catch (InputError const& e) {
    std::string msg = e.what();
    // Messages start with the file; keep the rest.
    EXPECT_EQ(msg.rfind(path, 0), 0u) << msg;
    return msg.substr(path.size());
  }
  ADD_FAILURE() << "accepted:\n" << text;
  return {};
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
      {"", ": the file is empty"},
  };
  for (auto const& c : cases)
    EXPECT_EQ(refusal(c.text), c.message) << c.text;
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

// Odd files are refused for what they are, without blocking and before
// anything is parsed; an oversized value is quoted only in part.
TEST(InputFiles, DirectoriesFifosHugeFilesAndHugeValuesAreRefusedBriefly) {
  HostTest::TempDir dir;
  auto message = [](auto load, std::string const& path) {
    try {
      load(path);
    } catch (InputError const& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  auto appliance = [](std::string const& p) { Host::loadAppliance(p); };
  auto scenario = [](std::string const& p) { Host::loadScenario(p); };
  for (auto load : {+appliance, +scenario}) {
    EXPECT_EQ(message(load, dir.path()), dir.path() + ": is a directory; give a file");
    auto fifo = dir.path() + "/fifo";
    ::mkfifo(fifo.c_str(), 0600);  // nobody writes to it: reading must not wait
    EXPECT_EQ(message(load, fifo),
              fifo + ": is not a regular file (a FIFO, socket or device); give a file");
    EXPECT_EQ(message(load, "/dev/zero"),
              "/dev/zero: is not a regular file (a FIFO, socket or device); give a file");
    ::unlink(fifo.c_str());
  }
  auto big = dir.file("big.yaml", "# " + std::string(1024 * 1024, 'x') + "\n");
  EXPECT_EQ(message(appliance, big),
            big + ": is 1048579 bytes long; an input file has at most 1048576 bytes (1 MiB)");

  // A scalar of 1,000,000 characters: the message shows the start of it.
  std::string const value(1000000, 'z');
  auto msg = refusal(replaced(kGood, "bus: 2", "bus: " + value));
  EXPECT_LT(msg.size(), 200u) << msg.substr(0, 300);
  EXPECT_EQ(msg, ":3: switch.bus must be a number, not '" + std::string(72, 'z') +
                     "... (1000000 characters)'");
  msg = refusal(replaced(kGood, "cpuInterface: mgmt1", "cpuInterface: mgmt1" + value));
  EXPECT_EQ(msg.substr(0, msg.find(';')), ":6: managementInterfaces[0].cpuInterface 'mgmt1" +
                                              std::string(67, 'z') +
                                              "... (1000005 characters)' is 1000005 bytes long");
}

std::string scenarioRefusal(std::string const& steps) {
  HostTest::TempDir dir;
  dir.file("appliance.yaml", kGood);
  auto path = dir.file("s.yaml", "appliance: appliance.yaml\nsteps:\n" + steps);
  try {
    Host::loadScenario(path);
  } catch (InputError const& e) {
    std::string msg = e.what();
    return msg.substr(msg.find(".yaml") + 5);
  }
  ADD_FAILURE() << "accepted:\n" << steps;
  return {};
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

TEST(ScenarioFile, BadStepsAreRefusedWithLineAndReason) {
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
}

TEST(ScenarioFile, InlineApplianceAndBadTraceSpec) {
  HostTest::TempDir dir;
  auto path = dir.file("s.yaml", R"(trace: "Bcm53134Agent"
appliance:
  switch: {managementInterfaces: []}
steps: []
)");
  try {
    Host::loadScenario(path);
    FAIL();
  } catch (InputError const& e) {
    EXPECT_NE(std::string(e.what()).find(":1: bad trace spec 'Bcm53134Agent'"), std::string::npos)
        << e.what();
  }
}

}  // namespace
