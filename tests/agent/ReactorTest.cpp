// Interface enable-state tracking: slice reactors and interface reactors
// mirroring the interface configuration into the machine's intfState.
#include <gtest/gtest.h>

#include "platform/kiv/Errors.h"
#include "tests/agent/AgentHarness.h"

namespace {

using Bcm53134::Agent::Bcm53134Sm;
using Bcm53134::Agent::IntfReactor;
using Bcm53134::Agent::IntfSliceReactor;
using Interface::EthPhyIntfConfig;
using Interface::EthPhyIntfConfigDir;
using Interface::IntfEnabledState;
using Lanx::IntfId;
using TestSupport::subscribers;
using namespace Kiv;

// Slice "1" holds three interface configurations: the management interface
// Management1 (enabled; CPU netdevice mgmt1, ports 1 and 5), Ethernet1
// (enabled) and Ethernet2 (disabled). The hardware is present, so the
// machine builds its slice reactors at mount completion.
class ThreeInterfaceSlice : public ::testing::Test {
 protected:
  void SetUp() override {
    app.mgmtInterfaceIs(0, "Management1", "mgmt1", 1, 5);
    app.slice->intfConfigIs(
        EthPhyIntfConfig::EthPhyIntfConfigIs(IntfId("Ethernet1"), IntfEnabledState::enabled));
    app.slice->intfConfigIs(
        EthPhyIntfConfig::EthPhyIntfConfigIs(IntfId("Ethernet2"), IntfEnabledState::disabled));
    app.start();
    app.useTestCpuIfMgr();
  }
  Bcm53134Sm& sm() { return app.sm(); }
  Orba::Ptr<IntfSliceReactor> slice1() { return sm().intfSliceReactor("1"); }
  IntfEnabledState state(char const* intf) { return sm().intfState(IntfId(intf)); }
  std::vector<std::string> states() {
    std::vector<std::string> r;
    for (auto const& [id, s] : sm().intfStates())
      r.push_back(id.name() + "=" + Interface::stringValue(s));
    return r;
  }

  TestSupport::TraceCapture tc{"Bcm53134Agent/0,1"};
  TestSupport::SimAppliance app;
};

TEST_F(ThreeInterfaceSlice, EveryConfigurationHasAReactorAndAnEntryAtOnce) {
  ASSERT_TRUE(slice1());
  EXPECT_EQ(Generic::count(*slice1(), "intfReactor"), 3u);
  EXPECT_EQ(states(), (std::vector<std::string>{"Ethernet1=enabled", "Ethernet2=disabled",
                                                "Management1=enabled"}));
  EXPECT_EQ(tc.matching("::handleConfigDir"),
            (std::vector<std::string>{
                "ADDR::handleConfigDir: adding interface reactor for interface Ethernet1",
                "ADDR::handleConfigDir: adding interface reactor for interface Ethernet2",
                "ADDR::handleConfigDir: adding interface reactor for interface Management1"}));
  EXPECT_TRUE(tc.has("ADDR::handleState: interface Ethernet2 enabled state: disabled"));
  EXPECT_TRUE(tc.has("ADDR::handleSlice: adding slice reactor for slice 1"));

  // A slice reactor made directly fills intfState before its creation returns.
  auto const dir2 = EthPhyIntfConfigDir::EthPhyIntfConfigDirIs("2");
  dir2->intfConfigIs(
      EthPhyIntfConfig::EthPhyIntfConfigIs(IntfId("Ethernet21"), IntfEnabledState::disabled));
  auto const r2 = sm().intfSliceReactorIs(dir2, Orba::Ptr<Bcm53134Sm>(&sm()));
  EXPECT_EQ(state("Ethernet21"), IntfEnabledState::disabled);
  EXPECT_EQ(sm().intfSliceReactor("2"), r2);
}

TEST_F(ThreeInterfaceSlice, AddChangeAndRemoveOfAnInterfaceConfiguration) {
  auto const& poll = *sm().clockPoll();
  auto const armedFor = poll.timeMin();
  auto const stateBefore = sm().state();
  tc.sink.clear();

  auto const e3 =
      EthPhyIntfConfig::EthPhyIntfConfigIs(IntfId("Ethernet3"), IntfEnabledState::disabled);
  app.slice->intfConfigIs(e3);
  IntfReactor const* const reactor = slice1()->intfReactor(IntfId("Ethernet3")).get();
  ASSERT_TRUE(reactor);
  EXPECT_EQ(state("Ethernet3"), IntfEnabledState::disabled);
  e3->enabledStateIs(IntfEnabledState::enabled);
  EXPECT_EQ(state("Ethernet3"), IntfEnabledState::enabled);
  EXPECT_EQ(tc.matching("Ethernet3"),
            (std::vector<std::string>{
                "ADDR::handleConfigDir: adding interface reactor for interface Ethernet3",
                "ADDR::handleState: interface Ethernet3 enabled state: disabled",
                "ADDR::handleState: interface Ethernet3 enabled state: enabled"}));
  // A new enabled state waits for the next link pass: no poll is requested.
  EXPECT_EQ(poll.timeMin(), armedFor);
  EXPECT_EQ(sm().state(), stateBefore);

  // Notifications of other attributes change nothing; a repeated one for
  // the same configuration traces again but neither rebuilds the reactor
  // nor rewrites the entry.
  sm().intfStateIs(IntfId("Ethernet3"), IntfEnabledState::disabled);
  e3->publisher()->notify(EthPhyIntfConfig::typeDesc().attrId("intfId"));
  app.slice->publisher()->notify(EthPhyIntfConfigDir::typeDesc().attrId("name"));
  tc.sink.clear();
  Generic::call(*slice1(), "handleConfigDir", {Value::of(IntfId("Ethernet3"))});
  EXPECT_EQ(tc.matching("::handleConfigDir").size(), 1u);
  EXPECT_EQ(slice1()->intfReactor(IntfId("Ethernet3")).get(), reactor);
  EXPECT_EQ(state("Ethernet3"), IntfEnabledState::disabled);

  // Removal deletes the reactor and the entry.
  app.slice->intfConfigDel(IntfId("Ethernet3"));
  EXPECT_FALSE(slice1()->intfReactor(IntfId("Ethernet3")));
  EXPECT_FALSE(sm().intfStates().contains(IntfId("Ethernet3")));
  EXPECT_TRUE(tc.has("ADDR::handleConfigDir: removing interface reactor for interface Ethernet3"));
  EXPECT_EQ(subscribers(*e3), 0u);
}

TEST_F(ThreeInterfaceSlice, RemovingTheWholeSliceKeepsTheEntries) {
  auto const e1 = app.slice->intfConfig(IntfId("Ethernet1"));
  app.sliceDir->entityDel("1");
  EXPECT_TRUE(tc.has("ADDR::handleSlice: removing slice reactor for slice 1"));
  EXPECT_FALSE(slice1());
  EXPECT_EQ(subscribers(*app.slice), 0u);
  EXPECT_EQ(subscribers(*e1), 0u);
  EXPECT_EQ(states(), (std::vector<std::string>{"Ethernet1=enabled", "Ethernet2=disabled",
                                                "Management1=enabled"}));
  e1->enabledStateIs(IntfEnabledState::disabled);
  EXPECT_EQ(state("Ethernet1"), IntfEnabledState::enabled);
}

TEST_F(ThreeInterfaceSlice, ZombieReactorsIgnoreNotifications) {
  auto const e1 = app.slice->intfConfig(IntfId("Ethernet1"));
  slice1()->intfReactor(IntfId("Ethernet1"))->kivDoZombieReactors(true);
  e1->enabledStateIs(IntfEnabledState::disabled);
  EXPECT_EQ(state("Ethernet1"), IntfEnabledState::enabled);

  slice1()->kivDoZombieReactors(true);
  app.slice->intfConfigIs(
      EthPhyIntfConfig::EthPhyIntfConfigIs(IntfId("Ethernet3"), IntfEnabledState::enabled));
  app.slice->intfConfigDel(IntfId("Ethernet2"));
  EXPECT_FALSE(slice1()->intfReactor(IntfId("Ethernet3")));
  EXPECT_TRUE(slice1()->intfReactor(IntfId("Ethernet2")));
  EXPECT_EQ(sm().intfStates().size(), 3u);
}

TEST_F(ThreeInterfaceSlice, ReplacedObjectsReplaceTheirReactors) {
  // An interface configuration replaced under the same id.
  auto const oldE1 = app.slice->intfConfig(IntfId("Ethernet1"));
  auto const newE1 =
      EthPhyIntfConfig::EthPhyIntfConfigIs(IntfId("Ethernet1"), IntfEnabledState::disabled);
  app.slice->intfConfigIs(newE1);
  auto const newReactor = slice1()->intfReactor(IntfId("Ethernet1"));
  ASSERT_TRUE(newReactor);
  EXPECT_EQ(newReactor->config(), newE1);
  EXPECT_EQ(state("Ethernet1"), IntfEnabledState::disabled);
  EXPECT_EQ(subscribers(*oldE1), 0u);
  EXPECT_EQ(subscribers(*newE1), 1u);

  // A repeated notification for the same slice keeps its reactor, whose
  // interface reactors are not made again.
  tc.sink.clear();
  app.sliceDir->publisher()->notify(Kiv::Dir::entityAttrId(), &app.slice->name());
  EXPECT_TRUE(tc.matching(": adding interface reactor").empty());
  EXPECT_EQ(subscribers(*app.slice), 1u);

  // A slice directory replaced under the same name.
  auto const newDir = EthPhyIntfConfigDir::EthPhyIntfConfigDirIs("1");
  newDir->intfConfigIs(
      EthPhyIntfConfig::EthPhyIntfConfigIs(IntfId("Ethernet7"), IntfEnabledState::enabled));
  app.sliceDir->entityIs("1", newDir);
  ASSERT_TRUE(slice1());
  EXPECT_EQ(slice1()->configDir(), newDir);
  EXPECT_EQ(subscribers(*app.slice), 0u);
  EXPECT_EQ(subscribers(*newE1), 0u);
  EXPECT_EQ(states(), (std::vector<std::string>{"Ethernet1=disabled", "Ethernet2=disabled",
                                                "Ethernet7=enabled", "Management1=enabled"}));

  // An entry that is no interface configuration directory is skipped.
  tc.sink.clear();
  app.sliceDir->entityIs("x", Kiv::Dir::DirIs("x"));
  EXPECT_FALSE(sm().intfSliceReactor("x"));
  EXPECT_EQ(tc.matching("slice x is not an interface configuration directory").size(), 1u);
  EXPECT_EQ(sm().intfSliceReactors().size(), 1u);
}

TEST_F(ThreeInterfaceSlice, InstantiatingCollectionsRejectEmptyAndDifferentArguments) {
  auto const agent = Orba::Ptr<Bcm53134Sm>(&sm());
  auto const other = Bcm53134::Agent::bcm53134SmFactory(nullptr, nullptr, nullptr);
  auto const e1 = app.slice->intfConfig(IntfId("Ethernet1"));
  auto const twin =
      EthPhyIntfConfig::EthPhyIntfConfigIs(IntfId("Ethernet1"), IntfEnabledState::enabled);
  auto& s = *slice1();
  EXPECT_EQ(s.intfReactorIs(e1, agent), s.intfReactor(IntfId("Ethernet1")));
  EXPECT_THROW(s.intfReactorIs(nullptr, agent), NullArgumentException);
  EXPECT_THROW(s.intfReactorIs(twin, agent), ReinstantiationException);
  EXPECT_THROW(s.intfReactorIs(e1, other), ReinstantiationException);
  EXPECT_THROW(sm().intfSliceReactorIs(app.slice, other), ReinstantiationException);
  // Nothing changed.
  EXPECT_EQ(s.intfReactor(IntfId("Ethernet1"))->config(), e1);
  EXPECT_EQ(sm().intfSliceReactor("1")->configDir(), app.slice);
  EXPECT_EQ(subscribers(*twin), 0u);
}

}  // namespace
