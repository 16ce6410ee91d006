#include <gtest/gtest.h>

#include "platform/kiv/Generic.h"
#include "tests/support/SimAppliance.h"

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

TEST(Hardware, AbsentHamOnlyTracesAndRetriesEveryPollPeriod) {
  TestSupport::TraceCapture tc("Bcm53134Agent/0,8");
  TestSupport::SimAppliance app(/*hardware=*/false);
  app.mgmtInterfaceIs(0, "Management1", "", 1, 5);
  app.start();
  TestSupport::advance(6.0);
  EXPECT_FALSE(app.sm().registerSm());
  EXPECT_EQ(app.sm().state(), State::idle);
  EXPECT_EQ(tc.matching(": ham not yet available").size(), 4u);  // at 0, 2, 4 and 6 s
  EXPECT_EQ(app.chip->registerAccesses(), 0u);
}

TEST(Hardware, NoConfigEntityAtAllNeverTouchesTheMissingConfig) {
  TestSupport::TraceCapture tc("Bcm53134Agent/0,8");
  TestSupport::SimAppliance app;
  app.em->entityDel(Cell::path("hardware/bcm53134/config", 0));
  app.start();
  TestSupport::advance(4.0);
  EXPECT_FALSE(app.sm().config());
  EXPECT_EQ(tc.matching(": ham not yet available").size(), 3u);
  // Start-up called through the attribute interface only says so.
  Kiv::Generic::call(app.sm(), "initialize");
  Kiv::Generic::call(app.sm(), "createRegisterSm");
  EXPECT_FALSE(app.sm().registerSm());
  EXPECT_FALSE(app.sm().cpuIfMgr());
  EXPECT_TRUE(tc.has("ADDR::initialize: no hardware config; nothing to initialize"));
  EXPECT_TRUE(tc.has("ADDR::createRegisterSm: no hardware config; no register state machine"));
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
