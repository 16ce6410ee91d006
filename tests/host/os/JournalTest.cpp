// The journal entries of the host's event lines: which lines are events,
// their kind, priority and the interface, netdevice and port they name.

#include <gtest/gtest.h>

#include "host/os/Journal.h"

namespace {

// Management1 (mgmt1) on ports 1/5, Management2 without a CPU netdevice on
// ports 2/6.
std::vector<Host::JournalLink> const kLinks{{"Management1", "mgmt1", 1, 5},
                                            {"Management2", "", 2, 6}};

std::vector<std::string> entry(std::string_view kind, std::string const& text) {
  return Host::journalFields(kind, text, "M", kLinks);
}

std::vector<std::string> fields(char const* priority, char const* id,
                                std::vector<std::string> more) {
  std::vector<std::string> f{"MESSAGE=M", std::string("PRIORITY=") + priority,
                             "SYSLOG_IDENTIFIER=agenthost", std::string("MESSAGE_ID=") + id};
  f.insert(f.end(), more.begin(), more.end());
  return f;
}

TEST(JournalFields, EventLinesNameTheirInterfaceNetdevAndPort) {
  namespace Id = Host::JournalIds;
  EXPECT_EQ(entry("status", "port 1 link status 0 (linkDown)"),
            fields("4", Id::kLinkDown, {"INTERFACE=Management1", "NETDEV=mgmt1", "PORT=1"}));
  EXPECT_EQ(entry("status", "port 2 link status 1 (linkUp)"),
            fields("5", Id::kLinkUp, {"INTERFACE=Management2", "PORT=2"}));
  EXPECT_EQ(entry("host",
                  "protodown restored on mgmt1 (Management1): the kernel showed off, the agent's "
                  "verdict is on"),
            fields("5", Id::kProtodownRestored, {"INTERFACE=Management1", "NETDEV=mgmt1"}));
  EXPECT_EQ(
      entry("trace",
            "Bcm53134Agent/0 0x55::checkAuxCtrlReg: interface Management1, detected a "
            "corrupted auxiliary register value of 0x0 on the internal port. Configuring "
            "back to the expected value: 0x430"),
      fields("4", Id::kRegisterRepaired, {"INTERFACE=Management1", "NETDEV=mgmt1", "PORT=5"}));
  EXPECT_EQ(entry("host", "reload: Management1 disabled"), fields("5", Id::kReloadApplied, {}));
  EXPECT_EQ(entry("host", "reload refused: a change of mdio needs a restart"),
            fields("3", Id::kReloadRefused, {}));
  EXPECT_EQ(entry("host", "reload failed: x; what it changed is undone"),
            fields("3", Id::kReloadRefused, {}));
  // Not events: they stay lines of the stream.
  EXPECT_TRUE(entry("status", "port 1 link status 7 (7)").empty());
  EXPECT_TRUE(entry("status", "error: XID 3 failed").empty());
  EXPECT_TRUE(entry("host", "SIGHUP: reloading /etc/agenthost/appliance.yaml").empty());
  EXPECT_TRUE(entry("trace", "Bcm53134Agent/0 setting protodown").empty());
}

}  // namespace
