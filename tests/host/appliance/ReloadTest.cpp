// A new appliance description applied to a running state database: the
// changes it makes, one line each, and the refusal of what needs a restart.

#include "host/appliance/Reload.h"

#include <gtest/gtest.h>

#include "tests/host/HostTestSupport.h"

namespace {

using HostTest::twoInterfaces;
using Interface::IntfEnabledState;

std::vector<std::string> sliceTexts(Host::StateDb const& db) {
  std::vector<std::string> r;
  for (auto const& s : db.slices()) {
    std::string t = s.name + ":";
    for (auto const& i : s.interfaces)
      t += " " + i.intfId + "=" + Interface::stringValue(i.state);
    r.push_back(t);
  }
  return r;
}

TEST(Reload, EveryKindOfChangeIsAppliedWithOneLineEach) {
  auto running = twoInterfaces();
  Host::StateDb db(running);
  auto next = running;
  // Management2 moves to other ports, Management3 comes with a netdevice.
  next.mgmtInterfaces = {
      {"Management1", "mgmt1", 1, 5}, {"Management2", "", 3, 7}, {"Management3", "mgmt3", 4, 0}};
  next.slices = {
      {"slice1",
       {{"Management1", IntfEnabledState::disabled}, {"Management3", IntfEnabledState::enabled}}},
      {"slice2", {}}};
  next.ham = false;
  auto lines = Host::applyAppliance(db, running, next);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "management interface Management2 removed",
                       "management interface Management2 added: external port 3, internal port "
                       "7, no CPU netdevice",
                       "management interface Management3 added: external port 4, internal port "
                       "0, CPU netdevice mgmt3",
                       "slice1: Management2 removed",
                       "slice1: Management1 enabled -> disabled",
                       "slice1: Management3 added, enabled",
                       "slice slice2 added: no interfaces",
                       "ham present -> absent",
                   }));
  EXPECT_EQ(db.mgmtInterfaces().size(), 3u);
  for (auto const& m : next.mgmtInterfaces) {
    auto have = db.mgmtInterfaces();
    EXPECT_NE(std::find(have.begin(), have.end(), m), have.end()) << m.intfId;
  }
  EXPECT_EQ(sliceTexts(db), (std::vector<std::string>{
                                "slice1: Management1=disabled Management3=enabled", "slice2:"}));
  EXPECT_FALSE(db.hamPresent());

  // The same description again changes nothing; going back undoes it all.
  EXPECT_EQ(Host::applyAppliance(db, next, next), std::vector<std::string>{});
  lines = Host::applyAppliance(db, next, running);
  EXPECT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines.back(), "ham absent -> present");
  EXPECT_EQ(sliceTexts(db),
            (std::vector<std::string>{"slice1: Management1=enabled Management2=disabled"}));
  EXPECT_EQ(db.mgmtInterfaces().size(), 2u);
}

// Steps and live commands change the database behind the file's back; the
// file puts it back.
TEST(Reload, ComparesWithTheDatabaseAsItIsNow) {
  auto running = twoInterfaces();
  Host::StateDb db(running);
  db.enabledStateIs("Management2", IntfEnabledState::enabled);
  db.sliceAdd({"slice9", {{"Ethernet4", IntfEnabledState::enabled}}});
  db.mgmtInterfaceDel("Management1");
  EXPECT_EQ(Host::applyAppliance(db, running, running),
            (std::vector<std::string>{"management interface Management1 added: external port 1, "
                                      "internal port 5, CPU netdevice mgmt1",
                                      "slice slice9 removed",
                                      "slice1: Management2 enabled -> disabled"}));
}

TEST(Reload, WhatNeedsARestartIsRefusedAndNothingIsApplied) {
  auto running = twoInterfaces();
  Host::StateDb db(running);
  auto next = running;
  next.file = "next.yaml";
  next.slices[0].interfaces[0].state = IntfEnabledState::disabled;
  next.links = {{1, false}, {2, true}};
  next.accessTime = 0.5;
  next.netdevices = Host::NetdevMode::hostNamespace;
  next.bus = 1;
  EXPECT_EQ(Host::restartChanges(running, next),
            (std::vector<std::string>{"switch.bus changed (0 -> 1)", "chip.links changed",
                                      "chip.accessTime changed",
                                      "netdevices changed (private -> host)"}));
  try {
    Host::applyAppliance(db, running, next);
    FAIL() << "applied";
  } catch (Host::RestartNeeded const& e) {
    EXPECT_STREQ(e.what(),
                 "next.yaml: switch.bus changed (0 -> 1); chip.links changed; chip.accessTime "
                 "changed; netdevices changed (private -> host): that needs a restart; nothing "
                 "from the file was applied");
  }
  EXPECT_EQ(db.enabledState("Management1"), IntfEnabledState::enabled);
  EXPECT_EQ(db.config().busBits(), 1u);

  auto coupling = running;
  coupling.txDisableCoupling = false;
  EXPECT_EQ(Host::restartChanges(running, coupling),
            std::vector<std::string>{"chip.txDisableCoupling changed"});
  auto real = running;
  real.mdio = Host::MdioTransport::miiIoctl;
  real.mdioNetdev = "eth1";
  EXPECT_EQ(Host::restartChanges(running, real),
            std::vector<std::string>{"mdio.transport changed (sim -> mii-ioctl)"});
  auto other = real;
  other.mdioNetdev = "eth2";
  EXPECT_EQ(Host::restartChanges(real, other),
            std::vector<std::string>{"mdio.netdev changed (eth1 -> eth2)"});
}

}  // namespace
