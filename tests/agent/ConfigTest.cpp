// Configuration and start-up of the switch state machine: the reaction to
// the hardware config, the one-time initialisation and the start of a poll
// cycle.
#include <gtest/gtest.h>

#include "tests/agent/AgentHarness.h"

namespace {

using Bcm53134::Agent::Bcm53134Sm;
using Bcm53134::Agent::RegisterId;
using Interface::EthPhyIntfConfig;
using Interface::EthPhyIntfConfigDir;
using Interface::IntfEnabledState;
using State = Bcm53134Sm::State;
using TestSupport::subscribers;
using namespace Kiv;

// One management interface (Management1, CPU netdevice mgmt1, external port
// 1, internal port 5) whose hardware is not there yet when the agent mounts:
// the machine exists but has built nothing.
class HardwareLater : public ::testing::Test {
 protected:
  void SetUp() override {
    app.mgmtInterfaceIs(0, "Management1", "mgmt1", 1, 5);
    app.start();
    app.status->portIs(3);
  }
  Bcm53134Sm& sm() { return app.sm(); }

  TestSupport::TraceCapture tc{"Bcm53134Agent/0,1,8"};
  TestSupport::SimAppliance app{false};
};

TEST_F(HardwareLater, BeforeHamPollsAndConfigNotificationsOnlyTrace) {
  // Every poll period, and nothing else: no register is touched.
  TestSupport::advance(6.0);
  EXPECT_EQ(tc.matching(": ham not yet available").size(), 4u);  // at 0, 2, 4 and 6 s
  EXPECT_EQ(app.chip->registerAccesses(), 0u);
  EXPECT_EQ(sm().state(), State::idle);

  auto const armedFor = sm().clockPoll()->timeMin();
  tc.sink.clear();
  app.config->publisher()->notify(Hardware::Bcm53134::Config::hamAttrId());
  EXPECT_EQ(
      tc.matching("::handleConfig"),
      (std::vector<std::string>{"ADDR::handleConfig", "ADDR::handleConfig: not yet initialized"}));
  EXPECT_FALSE(sm().registerSm());
  EXPECT_FALSE(sm().cpuIfMgr());
  EXPECT_TRUE(sm().intfSliceReactors().empty());
  EXPECT_TRUE(app.status->port(3));
  EXPECT_EQ(sm().clockPoll()->timeMin(), armedFor);

  // Changes of the config's other attributes are no concern of the machine.
  tc.sink.clear();
  app.config->busBitsIs(1);
  app.config->mgmtInterfaceIs(
      1, Hardware::Bcm53134::MgmtInterface::MgmtInterfaceIs(Lanx::IntfId("Management2"), "", 2, 6));
  EXPECT_TRUE(tc.matching("::handleConfig").empty());
}

TEST_F(HardwareLater, FirstHamBuildsOnceALaterChangeRebuildsNothingInitializeDoes) {
  tc.sink.clear();
  app.config->hamIs(app.ham);
  EXPECT_EQ(tc.matching("ADDR::"),
            (std::vector<std::string>{"ADDR::handleConfig",
                                      "ADDR::handleSlice: adding slice reactor for slice 1",
                                      "ADDR::handleConfigDir: adding interface reactor for "
                                      "interface Management1",
                                      "ADDR::handleState: interface Management1 enabled "
                                      "state: enabled",
                                      "ADDR::createRegisterSm: creating register state machine"}));
  auto& m = sm();
  ASSERT_TRUE(m.registerSm());
  EXPECT_TRUE(m.registerSm()->notificationActive());
  EXPECT_EQ(subscribers(*m.registerStatus()), 1u);
  EXPECT_EQ(m.cpuIfMgr()->typeData()->name, "Bcm53134::Agent::MacVlanCpuIfMgr");
  EXPECT_EQ(m.externalIds(), (Bcm53134Sm::ExternalIds{{5, 1}}));
  EXPECT_TRUE(app.status->ports().empty());
  EXPECT_EQ(m.state(), State::idle);
  EXPECT_EQ(m.clockPoll()->timeMin(), TestSupport::now());

  app.useTestCpuIfMgr();
  ASSERT_TRUE(app.runCycle());
  EXPECT_EQ(app.link(1), Hardware::Bcm53134::LinkStatus::linkUp);

  // A later change of the hardware handle rebuilds nothing (what it does to
  // the cycle under way is PollCycleTest's and config-change-mid-cycle's).
  auto const registerSm = m.registerSm();
  auto const mgr = m.cpuIfMgr();
  tc.sink.clear();
  app.config->hamIs(Fru::Ham::HamIs(app.chip));
  EXPECT_EQ(tc.matching("::handleConfig"), std::vector<std::string>{"ADDR::handleConfig"});
  EXPECT_EQ(m.registerSm(), registerSm);
  EXPECT_EQ(m.cpuIfMgr(), mgr);

  // A later initialize builds a new register service and puts a netlink
  // manager back in place of the simulated one.
  tc.sink.clear();
  Generic::call(m, "initialize");
  EXPECT_EQ(tc.matching(": creating register state machine").size(), 1u);
  EXPECT_NE(m.registerSm(), registerSm);
  EXPECT_FALSE(registerSm->notificationActive());
  EXPECT_EQ(subscribers(*m.registerStatus()), 1u);
  EXPECT_EQ(m.cpuIfMgr()->typeData()->name, "Bcm53134::Agent::MacVlanCpuIfMgr");
  app.useTestCpuIfMgr();
}

TEST_F(HardwareLater, StartEntersTheReadPassAndEmptiesTheRecordsOnlyWhenRepollingIsNeeded) {
  auto& m = sm();
  auto const insertRecords = [&] {
    for (auto const& id : {RegisterId(0x11, 0x20), RegisterId(0x11, 0x30)}) {
      Generic::insert(m, "registerVal",
                      {Value::of(id), Value::of(U32{2}), Value::of(U32{0}), Value::of(U32{0})});
    }
    m.currentRegIdIs(RegisterId(0x11, 0x30));
  };
  insertRecords();
  ASSERT_TRUE(m.repollingNeeded());
  tc.sink.clear();
  Generic::call(m, "start");
  EXPECT_EQ(tc.matching("ADDR::"),
            (std::vector<std::string>{"ADDR::start", "ADDR::handleState: state readingRegVals"}));
  EXPECT_TRUE(m.registerVals().empty());
  EXPECT_FALSE(m.repollingNeeded());
  EXPECT_EQ(m.currentRegId(), RegisterId());
  EXPECT_EQ(m.state(), State::readingRegVals);
  EXPECT_EQ(m.clockPoll()->timeMin(), TestSupport::now());

  // Already reading, without repolling: the records stay and nothing is
  // rescheduled.
  insertRecords();
  tc.sink.clear();
  m.start();
  EXPECT_EQ(tc.matching("ADDR::"), std::vector<std::string>{"ADDR::start"});
  EXPECT_EQ(m.registerVals().size(), 2u);
  EXPECT_EQ(m.currentRegId(), RegisterId());
}

}  // namespace
