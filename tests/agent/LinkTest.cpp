#include <gtest/gtest.h>

#include "tests/support/SimAppliance.h"

using Chip = Hardware::Mdio::Sim::Bcm53134Chip;

// What the link pass does is shown by the example scenarios (link-down-*,
// admin-disable, register-corruption); here, what they do not reach.
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
    app.useTestCpuIfMgr();
    ASSERT_TRUE(app.runUntilIdleState());
    ASSERT_TRUE(app.runCycle());
    tc.clear();
    app.chip->countersClear();
  }
  TestSupport::TraceCapture tc{"Bcm53134Agent/0,1 CpuIfMgr/0,1"};
  TestSupport::SimAppliance app;
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
