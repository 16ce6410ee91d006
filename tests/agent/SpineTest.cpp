// The agent's spine: the root's mount road, its ownership of the one switch
// state machine, the machine's notification switching, zombie flag,
// scheduling rule and teardown, and the generic attribute interface of both.
#include <gtest/gtest.h>

#include "platform/kiv/Errors.h"
#include "tests/agent/AgentHarness.h"

extern "C" AgentBase::CAgent* agentRootFactory(char const* name);

namespace {

using Bcm53134::Agent::Bcm53134Sm;
using Bcm53134::Agent::Root;
using State = Bcm53134Sm::State;
using TestSupport::subscribers;
using namespace Kiv;

// One management interface (Management1, CPU netdevice mgmt1, external port
// 1, internal port 5) on the simulated chip; the hardware is present, so the
// machine initialises itself inside its constructor at mount completion.
class OneInterfaceAgent : public ::testing::Test {
 protected:
  void SetUp() override { app.mgmtInterfaceIs(0, "Management1", "mgmt1", 1, 5); }
  // Starts the agent and runs until its machine is idle.
  bool startAgent() {
    app.start();
    app.useTestCpuIfMgr();
    return app.runUntilIdleState();
  }
  Bcm53134Sm& sm() { return app.sm(); }
  Bcm53134::Agent::IntfSliceReactor& slice1() { return *sm().intfSliceReactor("1"); }
  // A config change, a new slice and ten seconds of clock reach nothing.
  void expectReactsToNothing() {
    tc.sink.clear();
    app.config->hamIs(Fru::Ham::HamIs(app.chip));
    app.sliceDir->entityIs("2", Interface::EthPhyIntfConfigDir::EthPhyIntfConfigDirIs("2"));
    TestSupport::advance(10);
    EXPECT_TRUE(tc.matching("::handleConfig").empty());
    EXPECT_TRUE(tc.matching("::handleSlice").empty());
    EXPECT_TRUE(tc.matching("::doPoll").empty());
  }

  TestSupport::TraceCapture tc{"Bcm53134Agent/0,8"};
  TestSupport::SimAppliance app;
};

TEST_F(OneInterfaceAgent, MountRoadBuildsOneMachineAndKeepsItForTheSameEntities) {
  (void)Kiv::ActivityFacility::clock();
  auto const before = Orba::Node::liveCount();
  app.root = Orba::Ptr<Root>::adopt(dynamic_cast<Root*>(agentRootFactory("Bcm53134Agent")));
  ASSERT_TRUE(app.root);
  app.root->doInit();
  // The mount group is closed at once; completion comes later, through the loop.
  EXPECT_EQ(app.em->closeCount(), 1u);
  EXPECT_FALSE(app.root->bcm53134Sm());
  TestSupport::runUntilIdle();
  auto sm = app.root->bcm53134Sm();
  ASSERT_TRUE(sm);
  app.useTestCpuIfMgr();
  EXPECT_EQ(sm->config(), app.config);
  EXPECT_EQ(sm->status(), app.status);
  EXPECT_EQ(sm->intfSliceDir(), app.sliceDir);
  EXPECT_TRUE(sm->notificationActive());
  EXPECT_TRUE(tc.has("Bcm53134Agent::doInit"));
  EXPECT_TRUE(tc.has("Bcm53134Agent::doMountsComplete"));

  // A second completion over the same entities, whatever its status, keeps
  // the machine and its single subscriptions.
  app.root->doMountsComplete(Stratum::MountStatus::mountsPartial, app.em);
  EXPECT_EQ(app.root->bcm53134Sm(), sm);
  EXPECT_EQ(subscribers(*app.config), 1u);
  EXPECT_EQ(subscribers(*app.slice), 1u);
  EXPECT_EQ(tc.matching(": creating register state machine").size(), 1u);

  // A different status entity builds a new machine; the old one goes quiet
  // at once, lets go of its slice reactors and polls no more.
  auto const status2 = Hardware::Bcm53134::Status::StatusIs();
  app.em->entityIs(Cell::path("hardware/bcm53134/status", 0), status2);
  app.root->doMountsComplete(Stratum::MountStatus::mountsComplete, app.em);
  auto sm2 = app.root->bcm53134Sm();
  ASSERT_NE(sm2, sm);
  app.useTestCpuIfMgr();
  EXPECT_EQ(sm2->status(), status2);
  EXPECT_TRUE(sm2->notificationActive());
  EXPECT_FALSE(sm->notificationActive());
  EXPECT_TRUE(sm->intfSliceReactors().empty());
  EXPECT_EQ(subscribers(*app.config), 1u);
  EXPECT_EQ(subscribers(*app.slice), 1u);
  EXPECT_EQ(subscribers(*sm->registerStatus()), 0u);
  auto const oldXid = sm->xid();
  ASSERT_TRUE(app.runUntilIdleState());
  ASSERT_TRUE(app.runCycle());
  EXPECT_EQ(sm->xid(), oldXid);
  EXPECT_EQ(status2->port(1)->linkStatus(), Hardware::Bcm53134::LinkStatus::linkUp);

  // The replaced machine and the one taken out by bcm53134SmDel are both
  // released once nobody holds them, although each slice reactor holds a
  // reference back to its machine.
  auto removed = app.root->bcm53134SmDel();
  ASSERT_EQ(removed, sm2);
  EXPECT_FALSE(removed->notificationActive());
  EXPECT_FALSE(app.root->bcm53134SmDel());
  sm = sm2 = removed = nullptr;
  app.testMgr = nullptr;
  app.root = nullptr;
  TestSupport::advance(10);
  // The port statuses that the machines published stay with the status
  // entities; everything else the agent made is gone (the test made status2).
  app.status->portDelAll();
  status2->portDelAll();
  EXPECT_EQ(Orba::Node::liveCount(), before + 1);
}

TEST_F(OneInterfaceAgent, DestroyingTheRootSilencesTheMachineAndAPendingPollNeverRuns) {
  ASSERT_TRUE(startAgent());
  ASSERT_TRUE(sm().clockPoll()->armed());
  // Someone else still holds the machine when the root goes: it is switched
  // off all the same and its pending poll does not run.
  auto held = app.root->bcm53134Sm();
  app.root = nullptr;
  EXPECT_FALSE(held->notificationActive());
  EXPECT_EQ(subscribers(*app.config), 0u);
  tc.sink.clear();
  TestSupport::advance(10);
  EXPECT_TRUE(tc.matching("::doPoll").empty());
}

TEST_F(OneInterfaceAgent, SwitchedOffOrZombieTheMachineReactsToNothing) {
  ASSERT_TRUE(startAgent());
  auto& m = sm();
  auto const intf = slice1().intfReactor(Lanx::IntfId("Management1"));
  ASSERT_TRUE(intf);
  // The subscriptions of the machine, its register service and its reactors.
  auto const watching = [&] {
    return std::vector<std::size_t>{subscribers(*app.config), subscribers(*app.sliceDir),
                                    subscribers(*m.registerStatus()), subscribers(*app.slice),
                                    subscribers(*intf->config())};
  };
  m.hasNotificationActiveIs(false);
  m.hasNotificationActiveIs(false);
  EXPECT_EQ(watching(), std::vector<std::size_t>(5, 0));
  EXPECT_FALSE(m.registerSm()->notificationActive());
  EXPECT_FALSE(m.clockPoll()->notificationActive());

  // Switched off, the machine reacts to nothing: no config change, no slice,
  // no poll.
  expectReactsToNothing();

  m.hasNotificationActiveIs(true);
  m.hasNotificationActiveIs(true);
  EXPECT_EQ(watching(), std::vector<std::size_t>(5, 1));
  EXPECT_TRUE(m.registerSm()->notificationActive());
  EXPECT_TRUE(m.clockPoll()->notificationActive());
  app.sliceDir->entityDel("2");
  EXPECT_EQ(tc.matching(": removing slice reactor for slice 2").size(), 1u);

  // A zombie machine ignores its config, its slices and its clock alike.
  ASSERT_TRUE(app.runUntilIdleState());
  sm().kivDoZombieReactors(true);
  EXPECT_TRUE(sm().clockPoll()->zombie());
  expectReactsToNothing();
  EXPECT_FALSE(sm().intfSliceReactor("2"));

  sm().kivDoZombieReactors(false);
  app.config->hamIs(Fru::Ham::HamIs(app.chip));
  EXPECT_EQ(tc.matching("::handleConfig").size(), 1u);
}

TEST_F(OneInterfaceAgent, HandleStateArmsThePollFromTheState) {
  ASSERT_TRUE(startAgent());
  auto& m = sm();
  auto const& poll = *m.clockPoll();
  auto const t0 = TestSupport::now();
  // Idle: the next cycle starts pollPeriod after the previous one ended.
  EXPECT_EQ(poll.timeMin(), t0 + 2.0);

  // Writing the current state does nothing: no trace, no re-arming.
  tc.sink.clear();
  Generic::set(m, "state", Value::of(State::idle));
  EXPECT_TRUE(tc.matching("::handleState").empty());
  EXPECT_EQ(poll.timeMin(), t0 + 2.0);

  // A new pollPeriod does not move the arming already made; it applies from
  // the next idle arming on.
  Generic::set(m, "pollPeriod", Value::of(5.0));
  ASSERT_TRUE(TestSupport::runUntil([&] { return m.state() != State::idle; }, 10));
  EXPECT_EQ(TestSupport::now(), t0 + 2.0);
  ASSERT_TRUE(app.runUntilIdleState());
  auto const t1 = TestSupport::now();
  EXPECT_EQ(poll.timeMin(), t1 + 5.0);
  EXPECT_TRUE(tc.has("ADDR::handleState: state idle"));

  // The busy states poll at once.
  tc.sink.clear();
  Generic::setText(m, "state", "writingRegVals");
  EXPECT_EQ(tc.matching("::handleState"),
            std::vector<std::string>{"ADDR::handleState: state writingRegVals"});
  EXPECT_EQ(poll.timeMin(), t1);
  m.stateIs(State::readingRegVals);
  EXPECT_EQ(poll.timeMin(), t1);
  m.stateIs(State::idle);
  EXPECT_EQ(poll.timeMin(), t1 + 5.0);
}

// Entities of another type, or under another path, give empty handles; the
// machine then watches nothing and builds nothing.
TEST(AgentMount, MistypedOrMisplacedEntitiesGiveEmptyHandles) {
  TestSupport::TraceCapture tc{"Bcm53134Agent/0,8"};
  TestSupport::SimAppliance app;
  app.em->entityIs(Cell::path("hardware/bcm53134/config", 0), Kiv::Dir::DirIs("config"));
  app.em->entityIs("hardware/bcm53134/status", app.status);
  app.em->entityDel(Cell::path("hardware/bcm53134/status", 0));
  app.em->entityIs("interface/config/eth/phy/slice", app.slice);
  app.start();
  auto& sm = app.sm();
  EXPECT_FALSE(sm.config());
  EXPECT_FALSE(sm.status());
  EXPECT_FALSE(sm.intfSliceDir());
  Generic::call(sm, "handleConfig");
  EXPECT_TRUE(tc.has("ADDR::handleConfig: not yet initialized"));
  EXPECT_FALSE(sm.registerSm());
  EXPECT_TRUE(sm.intfSliceReactors().empty());
}

// The poll clock notifiee of a machine without hardware, whose every poll
// only traces that the hardware is not there.
TEST(ClockNotifiee, RetargetedOrReleasedNotifieesNeverReachTheMachine) {
  TestSupport::resetLoop();
  TestSupport::TraceCapture tc{"Bcm53134Agent/8"};
  auto const polls = [&] { return tc.matching("ADDR::doPoll: ham not yet available").size(); };
  auto const wakeup = Kiv::Clock::NotifieeConst::wakeupAttrId();
  auto sm = Bcm53134::Agent::bcm53134SmFactory(Hardware::Bcm53134::Config::ConfigIs(),
                                               Hardware::Bcm53134::Status::StatusIs(), nullptr);
  EXPECT_EQ(polls(), 1u);  // bound inside the constructor

  // Another clock: the same notifiee moves and polls once; reading the
  // attribute gives the clock watched.
  auto const other = Kiv::Clock::ClockIs();
  auto released = sm->clockPoll();
  Generic::set(*sm, "clockPoll", Value::of(other));
  EXPECT_EQ(polls(), 2u);
  EXPECT_EQ(sm->clockPoll(), released);
  EXPECT_EQ(Generic::get(*sm, "clockPoll"), Value::of(other));

  // Released by an empty clock, its wake-ups no longer reach the machine;
  // nor do those of a notifiee that outlives its machine.
  sm->clockPollIs(nullptr);
  EXPECT_TRUE(released->zombie());
  TestSupport::advance(10);
  released->onAttribute(wakeup, nullptr);
  EXPECT_EQ(polls(), 2u);
  sm->clockPollIs(Kiv::ActivityFacility::clock());
  EXPECT_EQ(polls(), 3u);
  released = sm->clockPoll();
  sm = nullptr;
  released->onAttribute(wakeup, nullptr);
  EXPECT_EQ(polls(), 3u);
  TestSupport::resetLoop();
}

// What the generic interface must not let an outsider do to the machine:
// change a constant or run one of its internal steps (a state that does not
// exist: attribute-misuse). The root is made by type name alone.
TEST(AgentGenericInterface, GuardsTheMachinesInsides) {
  TestSupport::SimAppliance app;
  app.mgmtInterfaceIs(0, "Management1", "", 1, 5);
  app.start();
  app.useTestCpuIfMgr();
  auto& sm = app.sm();
  for (char const* constant : {"miiStatusRegister", "miiStatusLinkEstabMask"})
    EXPECT_THROW(Generic::setText(sm, constant, "2"), AttributeError) << constant;
  for (char const* step :
       {"handleRegisterResult", "readLinkStatuses", "createRegVals", "readRegVals",
        "processLinkStatuses", "checkAuxCtrlReg", "writeRegVals", "writeRegister"}) {
    EXPECT_THROW(Generic::call(sm, step), AttributeError) << step;
  }
  EXPECT_THROW(Generic::get(*app.root, "name"), AttributeError);

  // The root is made by type name alone.
  auto const made =
      Kiv::handleAs<Root>(Generic::construct("Bcm53134::Agent::Root", {Value::of("agentA")}));
  EXPECT_EQ(made->name(), "agentA");
  EXPECT_FALSE(made->bcm53134Sm());
}

}  // namespace
