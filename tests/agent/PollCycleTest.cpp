// The poll cycle: the registers it reads and writes, what it shares between
// interfaces, a configuration change in the middle of it, and the link pass
// where the example scenarios do not reach.
#include <gtest/gtest.h>

#include "tests/support/SimAppliance.h"

using Chip = Hardware::Mdio::Sim::Bcm53134Chip;
using State = Bcm53134::Agent::Bcm53134Sm::State;

// One management interface, external port 1 and internal port 5, with a CPU
// netdevice managed by the simulated manager.
class OneInterface : public ::testing::Test {
 protected:
  void SetUp() override {
    app.mgmtInterfaceIs(0, "Management1", "mgmt1", 1, 5);
    app.start();
    app.useTestCpuIfMgr();
  }
  TestSupport::TraceCapture tc{"Bcm53134Agent/0,1 CpuIfMgr/0,1"};
  TestSupport::SimAppliance app;
};

TEST_F(OneInterface, FirstCycleReadsEveryRegisterInOrderThenWritesOnlyWhatDiffers) {
  ASSERT_TRUE(app.runUntilIdleState());
  // Four records, read one transaction at a time in register order.
  auto reads = tc.matching(": reading register");
  ASSERT_EQ(reads.size(), 4u);
  EXPECT_EQ(reads[0], "ADDR::readRegVals: XID 1: reading register page 0x11 addr 0x20");
  EXPECT_EQ(reads[1], "ADDR::readRegVals: XID 2: reading register page 0x11 addr 0x30");
  EXPECT_EQ(reads[2], "ADDR::readRegVals: XID 3: reading register page 0x15 addr 0x20");
  EXPECT_EQ(reads[3], "ADDR::readRegVals: XID 4: reading register page 0x15 addr 0x30");
  // Every register is written: both ext controls to 0x1000, both aux to 0x430.
  EXPECT_EQ(app.extCtrl(1), 0x1000);
  EXPECT_EQ(app.extCtrl(5), 0x1000);
  EXPECT_EQ(app.auxCtrl(1), 0x430);
  EXPECT_EQ(app.auxCtrl(5), 0x430);
  EXPECT_EQ(app.chip->registerWrites(), 4u);
  EXPECT_EQ(app.link(1), Hardware::Bcm53134::LinkStatus::linkUp);
  EXPECT_EQ(app.sm().xid(), 8u);
  // The cycles after it: AgentOnTheKernel's two minutes of a steady appliance.
}

// Two management interfaces sharing internal port 5: ports 1, 2 and 5.
TEST(SharedPorts, GiveSixRecordsAndTheSharedRegisterIsReadOnce) {
  TestSupport::SimAppliance app;
  app.mgmtInterfaceIs(0, "Management1", "", 1, 5);
  app.mgmtInterfaceIs(1, "Management2", "", 2, 5);
  app.start();
  ASSERT_TRUE(app.runUntilIdleState());
  EXPECT_EQ(app.sm().registerVals().size(), 6u);
  EXPECT_EQ(app.chip->reads(5, Chip::kExtCtrl), 1u);
  EXPECT_EQ(app.chip->reads(5, Chip::kAuxCtrl), 1u);
  // The interface visited last decides the port map entry of port 5.
  EXPECT_EQ(app.sm().externalId(5), 2);
}

TEST_F(OneInterface, ConfigurationChangeDuringAReadAbandonsTheCycleAndDropsTheLateResult) {
  // Results take a second, so a config change lands between a request and
  // its result.
  app.chip->accessTimeIs(1.0);
  TestSupport::advance(0.5);  // the first read's result has arrived; the second is out
  ASSERT_EQ(app.sm().state(), State::readingRegVals);
  ASSERT_EQ(app.sm().xid(), 2u);

  // Any config notification of ham abandons the cycle and polls at once.
  app.config->hamIs(nullptr);
  app.config->hamIs(app.ham);
  ASSERT_TRUE(app.runUntilIdleState(30));
  // The new cycle went on from the first unknown register (xid 3 re-reads
  // what xid 2 asked for), and the late result of xid 2 was dropped without
  // issuing another read: no register was read more than that.
  EXPECT_EQ(tc.matching(": reading register").size(), 5u);
  EXPECT_TRUE(tc.has("ADDR::readRegVals: XID 3: reading register page 0x11 addr 0x30"));
  EXPECT_EQ(app.chip->reads(1, Chip::kExtCtrl), 1u);
  EXPECT_EQ(app.chip->reads(1, Chip::kAuxCtrl), 2u);
  EXPECT_EQ(app.chip->reads(5, Chip::kAuxCtrl), 1u);
  EXPECT_EQ(app.extCtrl(1), 0x1000);
  EXPECT_EQ(app.auxCtrl(5), 0x430);
}

// What the link pass does is shown by the example scenarios (link-down-*,
// admin-disable, register-corruption); here, what they do not reach.
// Two management interfaces: Management1 on external port 1 and internal
// port 5 with CPU netdevice mgmt1 (under the simulated manager), Management2
// on ports 2 and 6 without a CPU netdevice. Both links up; the first two
// cycles (the writes, then their read-back) have settled.
class TwoInterfaces : public OneInterface {
 protected:
  void SetUp() override {
    app.mgmtInterfaceIs(1, "Management2", "", 2, 6);
    OneInterface::SetUp();
    ASSERT_TRUE(app.runUntilIdleState());
    ASSERT_TRUE(app.runCycle());
    tc.clear();
    app.chip->countersClear();
  }
};

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
