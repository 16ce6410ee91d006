// Reloads planned against a running state database, then applied: the plan
// for each kind of difference, the refusal of what needs a restart, and a
// plan that fails half way undone.

#include "host/appliance/Reload.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/host/HostTestSupport.h"

namespace {

using HostTest::twoInterfaces;
using Interface::IntfEnabledState;

// Everything a reload may change, in one comparable text.
std::string text(Host::LiveConfig const& c) {
  std::string t = c.ham ? "ham;" : "no ham;";
  for (auto const& m : c.mgmtInterfaces)
    t += " " + m.intfId + "(" + m.cpuInterface + " " + std::to_string(m.externalPort) + "/" +
         std::to_string(m.internalPort) + ")";
  for (auto const& s : c.slices) {
    t += "; " + s.name + ":";
    for (auto const& i : s.interfaces)
      t += " " + i.intfId + "=" + Interface::stringValue(i.state);
  }
  return t;
}

std::vector<std::string> texts(Host::ReloadPlan const& p) {
  std::vector<std::string> r;
  for (auto const& c : p.changes)
    r.push_back(c.text);
  return r;
}

using Edit = std::function<void(Host::ApplianceDesc&)>;

struct PlanCase {
  char const* what;
  Edit edit;  // the new file, from the running one
  std::vector<std::string> changes;
};

// The running description is twoInterfaces(): Management1 1/5 with mgmt1,
// Management2 2/6; slice1 with Management1 enabled and Management2
// disabled; ham present.
std::vector<PlanCase> const kPlans = {
    {"the same file", [](auto&) {}, {}},
    {"an enabled state",
     [](auto& a) { a.slices[0].interfaces[0].state = IntfEnabledState::disabled; },
     {"slice1: Management1 enabled -> disabled"}},
    {"a rename",
     [](auto& a) { a.mgmtInterfaces[0].intfId = "Management7"; },
     {"management interface Management1 removed",
      "management interface Management7 added: external port 1, internal port 5, CPU netdevice "
      "mgmt1"}},
    {"a new CPU netdevice",
     [](auto& a) { a.mgmtInterfaces[1].cpuInterface = "mgmt2"; },
     {"management interface Management2 removed",
      "management interface Management2 added: external port 2, internal port 6, CPU netdevice "
      "mgmt2"}},
    {"a shared switch port",
     [](auto& a) { a.mgmtInterfaces[1].internalPort = 1; },
     {"management interface Management2 removed",
      "management interface Management2 added: external port 2, internal port 1, no CPU "
      "netdevice; warning: switch port 1 is used by Management1 (external) and Management2 "
      "(internal): they share its register records, and Management2, visited last, decides a "
      "shared register"}},
    {"a management interface removed and one added",
     [](auto& a) {
       a.mgmtInterfaces = {{"Management1", "mgmt1", 1, 5}, {"Management3", "", 4, 0}};
     },
     {"management interface Management2 removed",
      "management interface Management3 added: external port 4, internal port 0, no CPU "
      "netdevice"}},
    {"interface configurations and slices",
     [](auto& a) {
       a.slices = {{"slice0", {}},
                   {"slice1",
                    {{"Management2", IntfEnabledState::disabled},
                     {"Ethernet3", IntfEnabledState::unknownEnabledState}}}};
     },
     {"slice slice0 added: no interfaces", "slice1: Management1 removed",
      "slice1: Ethernet3 added, unknownEnabledState"}},
    {"every slice gone and ham absent",
     [](auto& a) {
       a.slices.clear();
       a.ham = false;
     },
     {"slice slice1 removed", "ham present -> absent"}},
};

// Each plan, once applied, leaves the database as the file has it; the
// same file again then plans nothing.
TEST(Reload, EachDifferenceIsPlannedThenAppliedToMatchTheFile) {
  for (auto const& pc : kPlans) {
    SCOPED_TRACE(pc.what);
    auto running = twoInterfaces();
    auto next = running;
    pc.edit(next);
    Host::StateDb db(running);
    auto plan = Host::planReload(Host::liveConfigOf(db), running, next);
    EXPECT_FALSE(plan.refused());
    EXPECT_EQ(texts(plan), pc.changes);
    Host::applyPlan(db, plan);
    Host::StateDb fresh(next);
    EXPECT_EQ(text(Host::liveConfigOf(db)), text(Host::liveConfigOf(fresh)));
    EXPECT_TRUE(Host::planReload(Host::liveConfigOf(db), next, next).changes.empty());
  }
}

// Steps and live commands change the database behind the file's back; the
// plan puts it back as the file has it.
TEST(Reload, IsPlannedAgainstTheDatabaseAsItIsNow) {
  auto running = twoInterfaces();
  Host::StateDb db(running);
  db.enabledStateIs("Management2", IntfEnabledState::enabled);
  db.sliceAdd({"slice9", {{"Ethernet4", IntfEnabledState::enabled}}});
  db.mgmtInterfaceDel("Management1");
  auto plan = Host::planReload(Host::liveConfigOf(db), running, running);
  EXPECT_EQ(texts(plan), (std::vector<std::string>{
                             "management interface Management1 added: external port 1, "
                             "internal port 5, CPU netdevice mgmt1",
                             "slice slice9 removed", "slice1: Management2 enabled -> disabled"}));
  // Only a netdevice the database does not have yet is new.
  auto next = running;
  next.mgmtInterfaces.push_back({"Management3", "mgmt3", 3, 7});
  EXPECT_EQ(
      Host::planReload(Host::liveConfigOf(db), running, next).newCpuNetdevs(Host::liveConfigOf(db)),
      (std::vector<std::string>{"mgmt1", "mgmt3"}));
  // One added takes the first free key, and is visited before those after it.
  next.mgmtInterfaces = {{"Management2", "", 2, 6}, {"Management3", "", 3, 2}};
  EXPECT_EQ(Host::planReload(Host::liveConfigOf(db), running, next).changes.at(0).text,
            "management interface Management3 added: external port 3, internal port 2, no CPU "
            "netdevice; warning: switch port 2 is used by Management3 (internal) and "
            "Management2 (external): they share its register records, and Management2, visited "
            "last, decides a shared register");
  next.mgmtInterfaces[1].cpuInterface = "mgmt3";
  Host::StateDb full(running);
  EXPECT_EQ(Host::planReload(Host::liveConfigOf(full), running, next)
                .newCpuNetdevs(Host::liveConfigOf(full)),
            std::vector<std::string>{"mgmt3"});
}

TEST(Reload, WhatNeedsARestartIsRefusedWithNoChangesPlanned) {
  auto running = twoInterfaces();
  auto next = running;
  next.file = "next.yaml";
  next.slices[0].interfaces[0].state = IntfEnabledState::disabled;
  next.links = {{1, false}, {2, true}};
  next.accessTime = 0.5;
  next.netdevices = Host::NetdevMode::hostNamespace;
  next.bus = 1;
  next.txDisableCoupling = false;
  next.mdio = Host::MdioTransport::miiIoctl;
  next.mdioNetdev = "eth1";
  Host::StateDb db(running);
  auto plan = Host::planReload(Host::liveConfigOf(db), running, next);
  EXPECT_TRUE(plan.refused());
  EXPECT_TRUE(plan.changes.empty());
  EXPECT_EQ(plan.refusal(),
            "next.yaml: mdio.transport changed (sim -> mii-ioctl); switch.bus changed (0 -> 1); "
            "chip.links changed; chip.txDisableCoupling changed; chip.accessTime changed; "
            "netdevices changed (private -> host): that needs a restart; nothing from the file "
            "was applied");
  Host::applyPlan(db, plan);
  EXPECT_EQ(db.enabledState("Management1"), IntfEnabledState::enabled);

  auto other = next;
  other.mdioNetdev = "eth2";
  EXPECT_EQ(Host::restartChanges(next, other),
            std::vector<std::string>{"mdio.netdev changed (eth1 -> eth2)"});
}

// A change that finds the database other than planned fails the plan: the
// changes made before it are undone, the management interfaces back at
// their keys.
TEST(Reload, APlanThatFailsHalfWayIsUndone) {
  auto running = twoInterfaces();
  running.slices.push_back({"slice2", {{"Ethernet7", IntfEnabledState::enabled}}});
  Host::StateDb db(running);
  auto next = running;
  next.mgmtInterfaces = {{"Management2", "", 3, 6}, {"Management3", "mgmt3", 4, 0}};
  next.slices = {{"slice1", {{"Management1", IntfEnabledState::disabled}}}};
  next.ham = false;
  auto plan = Host::planReload(Host::liveConfigOf(db), running, next);
  ASSERT_EQ(plan.changes.size(), 8u);
  EXPECT_EQ(plan.changes[5].text, "slice1: Management2 removed");
  db.intfConfigDel("slice1", "Management2");  // behind the plan's back
  auto before = text(Host::liveConfigOf(db));
  auto keys = std::pair{db.mgmtInterfaceKey("Management1"), db.mgmtInterfaceKey("Management2")};
  try {
    Host::applyPlan(db, plan);
    FAIL() << "applied";
  } catch (Host::ReloadFailed const& e) {
    EXPECT_STREQ(e.what(),
                 "slice1: Management2 removed: the state database has changed since the reload "
                 "was planned");
  }
  EXPECT_EQ(text(Host::liveConfigOf(db)), before);
  EXPECT_EQ(std::pair(db.mgmtInterfaceKey("Management1"), db.mgmtInterfaceKey("Management2")),
            keys);
  EXPECT_FALSE(db.mgmtInterfaceKey("Management3"));
}

// The file's pollPeriod is the agent's attribute, compared with the live
// value (a period set by hand is brought back) and written last; one the
// agent refuses undoes the plan.
TEST(Reload, APollPeriodIsPlannedAgainstTheAgentsAndWrittenLast) {
  auto running = twoInterfaces();
  Host::StateDb db(running);
  auto next = running;
  next.pollPeriod = 5;
  next.ham = !running.ham;
  auto live = Host::liveConfigOf(db);
  EXPECT_EQ(Host::planReload(live, running, next).changes.size(), 1u) << "not running yet";
  live.pollPeriod = 0.5;
  auto plan = Host::planReload(live, running, next);
  ASSERT_EQ(plan.changes.size(), 2u);
  EXPECT_EQ(plan.changes[1].text, "pollPeriod 0.5 -> 5 s");
  live.pollPeriod = 5;
  EXPECT_EQ(Host::planReload(live, running, next).changes.size(), 1u);
  next.pollPeriod.reset();
  live.pollPeriod = 0.5;
  EXPECT_EQ(Host::planReload(live, running, next).changes.size(), 1u) << "left out: kept";

  std::vector<double> written;
  auto before = text(Host::liveConfigOf(db));
  try {
    Host::applyPlan(db, plan, [&](double p) {
      written.push_back(p);
      throw std::runtime_error("pollPeriod must be from 0.001 to 86400 seconds");
    });
    FAIL() << "applied";
  } catch (Host::ReloadFailed const& e) {
    EXPECT_STREQ(e.what(), "pollPeriod 0.5 -> 5 s: pollPeriod must be from 0.001 to 86400 seconds");
  }
  EXPECT_EQ(text(Host::liveConfigOf(db)), before);
  Host::applyPlan(db, plan, [&](double p) { written.push_back(p); });
  EXPECT_EQ(written, (std::vector<double>{5, 5}));
  EXPECT_EQ(db.hamPresent(), next.ham);
}

}  // namespace
