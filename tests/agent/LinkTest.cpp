#include <gtest/gtest.h>

#include "tests/support/SimAppliance.h"

using Chip = Hardware::Mdio::Sim::Bcm53134Chip;
using Hardware::Bcm53134::LinkStatus;
using CpuState = Bcm53134::Agent::CpuInterface::State;
using Interface::IntfEnabledState;

// Two management interfaces: Management1 on external port 1 and internal
// port 5 with CPU netdevice mgmt1 (under the simulated manager), Management2
// on ports 2 and 6 without a CPU netdevice. Both links up; the first two
// cycles (the writes, then their read-back) have settled.
class TwoInterfaces : public ::testing::Test {
 protected:
  void SetUp() override {
    app.mgmtInterfaceIs(0, "Management1", "mgmt1", 1, 5);
    app.mgmtInterfaceIs(1, "Management2", "", 2, 6);
    app.start();
    mgr = app.useTestCpuIfMgr();
    ASSERT_TRUE(app.runUntilIdleState());
    ASSERT_TRUE(app.runCycle());
    tc.clear();
    app.chip->countersClear();
  }
  CpuState cpuState() const { return mgr->cpuInterface("mgmt1")->state(); }
  void adminIs(char const* intf, IntfEnabledState s) {
    app.slice->intfConfig(Lanx::IntfId(intf))->enabledStateIs(s);
  }

  TestSupport::TraceCapture tc{"Bcm53134Agent/0,1 CpuIfMgr/0,1"};
  TestSupport::SimAppliance app;
  Orba::Ptr<Bcm53134::Agent::TestCpuIfMgr> mgr;
};

TEST_F(TwoInterfaces, LinkDownWithACpuNetdeviceDisablesItAndLeavesTheTransmittersOn) {
  EXPECT_EQ(cpuState(), CpuState::enabled);
  app.chip->linkIs(1, false);
  ASSERT_TRUE(app.runCycle());
  EXPECT_EQ(app.link(1), LinkStatus::linkDown);
  EXPECT_EQ(cpuState(), CpuState::disabled);
  EXPECT_EQ(app.extCtrl(1), 0x1000);
  EXPECT_EQ(app.extCtrl(5), 0x1000);
  EXPECT_EQ(app.chip->miiStatusReads(1), 6u);  // the first read and five re-reads
  EXPECT_TRUE(tc.has("ADDR::readLinkStatuses: Link status of interface Management1: linkDown"));

  // While the link stays down the repeated verdict costs nothing.
  tc.clear();
  ASSERT_TRUE(app.runCycle());
  EXPECT_TRUE(tc.matching("disabling interface").empty());

  app.chip->linkIs(1, true);
  ASSERT_TRUE(app.runCycle());
  EXPECT_EQ(app.link(1), LinkStatus::linkUp);
  EXPECT_EQ(cpuState(), CpuState::enabled);
  EXPECT_EQ(app.chip->registerWrites(), 0u);
}

TEST_F(TwoInterfaces, LinkDownWithoutACpuNetdeviceSwitchesTheInternalTransmitterOff) {
  app.chip->linkIs(2, false);
  ASSERT_TRUE(app.runCycle());
  EXPECT_EQ(app.link(2), LinkStatus::linkDown);
  // Decided and written in the same cycle.
  EXPECT_EQ(app.extCtrl(6), 0x3000);
  EXPECT_EQ(app.extCtrl(2), 0x1000);
  EXPECT_TRUE(
      tc.has("ADDR::processLinkStatuses: interface Management2, link status linkDown: writing "
             "0x3000 to internal extended control register(0x16/0x20). Current value: 0x1000"));

  app.chip->linkIs(2, true);
  ASSERT_TRUE(app.runCycle());  // re-reads after the write, sees the link
  EXPECT_EQ(app.extCtrl(6), 0x1000);
}

TEST_F(TwoInterfaces, AdministrativelyDisabledInterfacesStopTransmittingOutside) {
  adminIs("Management1", IntfEnabledState::disabled);
  adminIs("Management2", IntfEnabledState::disabled);
  ASSERT_TRUE(app.runCycle());
  EXPECT_EQ(app.extCtrl(1), 0x3000);
  EXPECT_EQ(app.extCtrl(5), 0x1000);  // the CPU netdevice carries the CPU side
  EXPECT_EQ(app.extCtrl(2), 0x3000);
  EXPECT_EQ(app.extCtrl(6), 0x3000);
  EXPECT_EQ(cpuState(), CpuState::enabled);  // left as it was
  EXPECT_TRUE(tc.has(
      "ADDR::processLinkStatuses: CPU interface defined: mgmt1: not disabling internal link"));
  EXPECT_TRUE(
      tc.has("ADDR::processLinkStatuses: interface Management1, enabled state disabled: writing "
             "0x3000 to external extended control register(0x11/0x20). Current value: 0x1000"));

  // A disabled interface's link is not consulted: no CPU verdict either way.
  app.chip->linkIs(1, false);
  ASSERT_TRUE(app.runCycle());
  EXPECT_EQ(cpuState(), CpuState::enabled);

  adminIs("Management1", IntfEnabledState::enabled);
  ASSERT_TRUE(app.runCycle());
  EXPECT_EQ(app.extCtrl(1), 0x1000);
  EXPECT_EQ(cpuState(), CpuState::disabled);  // its link is down
}

TEST_F(TwoInterfaces, AFlapOnlyTheLatchSawIsIgnored) {
  app.chip->linkFlap(1);
  ASSERT_TRUE(app.runCycle());
  EXPECT_EQ(app.link(1), LinkStatus::linkUp);
  EXPECT_EQ(cpuState(), CpuState::enabled);
  EXPECT_EQ(app.chip->miiStatusReads(1), 2u);
  EXPECT_TRUE(
      tc.has("ADDR::readLinkStatuses: Ignoring likely invalid link failure status for interface "
             "Management1 after 1 retries"));
}

TEST_F(TwoInterfaces, FailingMiiReadsCountAsNoLink) {
  app.chip->miiReadFailIs(2, true);
  ASSERT_TRUE(app.runCycle());
  EXPECT_EQ(app.link(2), LinkStatus::linkDown);
  EXPECT_EQ(app.chip->miiStatusReads(2), 6u);
}

TEST_F(TwoInterfaces, ACorruptedAuxiliaryRegisterIsRestoredInTheNextReReadingCycle) {
  app.chip->regIs(6, Chip::kAuxCtrl, 0);
  // After a clean cycle the agent does not re-read registers on its own.
  ASSERT_TRUE(app.runCycle());
  EXPECT_EQ(app.auxCtrl(6), 0);
  // A failed transaction forces the re-read.
  app.sm().repollingNeededIs(true);
  ASSERT_TRUE(app.runCycle());
  EXPECT_EQ(app.auxCtrl(6), 0x430);
  EXPECT_TRUE(
      tc.has("ADDR::checkAuxCtrlReg: interface Management2, detected a corrupted auxiliary "
             "register value of 0x0 on the internal port. Configuring back to the expected "
             "value: 0x430"));
}

TEST_F(TwoInterfaces, ASteadyLinkCostsOneMiiReadPerInterfaceAndNothingElse) {
  for (int i = 0; i < 20; ++i)
    ASSERT_TRUE(app.runCycle());
  EXPECT_EQ(app.chip->registerAccesses(), 0u);
  EXPECT_EQ(app.chip->miiStatusReads(1), 20u);
  EXPECT_EQ(app.chip->miiStatusReads(2), 20u);
  EXPECT_TRUE(tc.matching("abling interface").empty());
}

TEST_F(TwoInterfaces, AnInterfaceAddedWhileRecordsExistIsReadBeforeItIsActedOn) {
  app.mgmtInterfaceIs(2, "Management3", "", 3, 7);
  app.chip->linkIs(3, false);
  ASSERT_TRUE(app.runCycle());
  EXPECT_EQ(app.sm().registerVals().size(), 12u);
  EXPECT_EQ(app.chip->reads(3, Chip::kExtCtrl), 1u);
  EXPECT_EQ(app.chip->reads(7, Chip::kAuxCtrl), 1u);
  EXPECT_EQ(app.extCtrl(7), 0x3000);
  EXPECT_EQ(app.auxCtrl(3), 0x430);
}
