#include <gtest/gtest.h>

#include "tests/support/Netns.h"
#include "tests/support/SimAppliance.h"

// The whole agent on the simulated chip in virtual time, with its real
// netlink manager acting inside a private network namespace. Two management
// interfaces: Management1 on ports 1/5 with CPU netdevice mgmt1 (a macvlan
// over a veth), Management2 on ports 2/6 without one.
TEST(AgentOnTheKernel, TwoMinutesOfASteadyApplianceCostExactlyWhatIsPredicted) {
  REQUIRE_NETNS();
  TestSupport::NetNamespace ns;
  ns.ip("link add v0 type veth peer name v1");
  ns.ip("link add link v0 name mgmt1 type macvlan mode bridge");
  ns.ip("link set v0 up");
  ns.ip("link set mgmt1 up");
  TestSupport::TraceCapture tc{"Bcm53134Agent/0,1 CpuIfMgr/0,1"};
  TestSupport::SimAppliance app;  // goes first: no netlink request at teardown
  app.mgmtInterfaceIs(0, "Management1", "mgmt1", 1, 5);
  app.mgmtInterfaceIs(1, "Management2", "", 2, 6);
  app.start();
  TestSupport::advance(120.0);
  // Cycles start at 0 s and then 2 s after each one ends: 60 cycles.
  // The first reads all 8 registers of ports 1, 2, 5 and 6 and writes all 8
  // (extended control to 0x1000, auxiliary control to 0x430); the second
  // re-reads the 8; the other 58 touch no register.
  EXPECT_EQ(app.chip->registerAccesses(), 8u + 8u + 8u);
  EXPECT_EQ(app.chip->registerWrites(), 8u);
  // One MII status read per interface and cycle.
  EXPECT_EQ(app.chip->miiStatusReads(1), 60u);
  EXPECT_EQ(app.chip->miiStatusReads(2), 60u);
  // One netlink request: the first enable of mgmt1.
  EXPECT_EQ(tc.matching("::run: setting protodown to").size(), 1u);
  EXPECT_EQ(tc.matching("::run: protodown operation succeeded").size(), 1u);
  EXPECT_FALSE(ns.protodown("mgmt1"));
}
