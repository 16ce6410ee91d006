#include <gtest/gtest.h>

#include "tests/agent/SimAppliance.h"

using Chip = Hardware::Mdio::Sim::Bcm53134Chip;
using State = Bcm53134::Agent::Bcm53134Sm::State;
using Bcm53134::Agent::RegisterId;

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

  // The next cycle re-reads every register (the writes are verified) and
  // writes nothing; the one after that touches no register at all.
  app.chip->countersClear();
  ASSERT_TRUE(app.runCycle());
  EXPECT_EQ(app.chip->registerAccesses(), 4u);
  EXPECT_EQ(app.chip->registerWrites(), 0u);
  app.chip->countersClear();
  ASSERT_TRUE(app.runCycle());
  EXPECT_EQ(app.chip->registerAccesses(), 0u);
  EXPECT_EQ(app.chip->miiStatusReads(1), 1u);
}
