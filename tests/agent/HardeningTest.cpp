// Off the normal road: partial mounts, misuse through the generic attribute
// interface, transactions that can never complete, long error texts, and the
// source prefix of trace lines. In every case the agent keeps polling.
#include <gtest/gtest.h>

#include <regex>

#include "platform/kiv/Generic.h"
#include "tests/support/SimAppliance.h"

namespace {

using State = Bcm53134::Agent::Bcm53134Sm::State;
using Bcm53134::Agent::RegisterId;
using Kiv::Value;
namespace Generic = Kiv::Generic;

// One management interface, external port 1 and internal port 5, with a CPU
// netdevice managed by the simulated manager, settled after its first two
// cycles (the second reads back what the first wrote).
class Settled : public ::testing::Test {
 protected:
  void SetUp() override {
    app.mgmtInterfaceIs(0, "Management1", "mgmt1", 1, 5);
    app.start();
    app.useTestCpuIfMgr();
    ASSERT_TRUE(app.runUntilIdleState());
    ASSERT_TRUE(app.runCycle());
    tc.clear();
  }
  Bcm53134::Agent::Bcm53134Sm& sm() { return app.sm(); }
  // Runs until a register read is outstanding.
  void untilReadOutstanding() {
    sm().repollingNeededIs(true);
    ASSERT_TRUE(app.runUntil([&] { return app.sm().registerSm()->busy(); }));
  }
  // The machine still works: a link lost now is published and brings
  // protodown within a few cycles.
  void expectStillPolling() {
    app.chip->linkIs(1, false);
    EXPECT_TRUE(
        app.runUntil([&] { return app.link(1) == Hardware::Bcm53134::LinkStatus::linkDown; }, 20));
    auto mgmt1 = app.testMgr->cpuInterface("mgmt1");
    ASSERT_TRUE(mgmt1);
    EXPECT_EQ(mgmt1->state(), Bcm53134::Agent::CpuInterface::State::disabled);
  }
  TestSupport::TraceCapture tc{"Bcm53134Agent/0,1"};
  TestSupport::SimAppliance app;
};

// Each of the three entities missing from the mount in turn: the machine is
// created with what was found and keeps running.
TEST(PartialMount, EachEntityMissingInTurnLeavesTheMachineRunning) {
  for (char const* missing : {"config", "status", "slice"}) {
    SCOPED_TRACE(missing);
    TestSupport::TraceCapture tc("Bcm53134Agent/0,8");
    TestSupport::SimAppliance app;
    app.mgmtInterfaceIs(0, "Management1", "", 1, 5);
    std::string const path = std::string(missing) == "slice"
                                 ? std::string("interface/config/eth/phy/slice")
                                 : Cell::path("hardware/bcm53134/" + std::string(missing), 0);
    app.em->entityDel(path);
    app.start();
    ASSERT_TRUE(app.root->bcm53134Sm());
    TestSupport::advance(20.0);
    if (std::string(missing) == "config") {
      EXPECT_EQ(app.chip->registerAccesses(), 0u);
      EXPECT_EQ(tc.matching(": ham not yet available").size(), 11u);  // every 2 s
      // Start-up called through the attribute interface only says so.
      Generic::call(app.sm(), "initialize");
      Generic::call(app.sm(), "createRegisterSm");
      EXPECT_FALSE(app.sm().registerSm());
      EXPECT_FALSE(app.sm().cpuIfMgr());
      EXPECT_TRUE(tc.has("ADDR::initialize: no hardware config; nothing to initialize"));
      EXPECT_TRUE(tc.has("ADDR::createRegisterSm: no hardware config; no register state machine"));
      continue;
    }
    // The registers are held either way.
    EXPECT_EQ(app.auxCtrl(1), 0x430);
    EXPECT_EQ(app.auxCtrl(5), 0x430);
    if (std::string(missing) == "status") {
      // Nowhere to publish link statuses: no link reading, no link
      // processing (the extended control registers are left alone), said
      // once.
      EXPECT_EQ(app.chip->miiStatusReadsTotal(), 0u);
      EXPECT_EQ(app.extCtrl(1), 0u);
      EXPECT_EQ(tc.matching(": no hardware status entity").size(), 1u);
    } else {
      // No slices: every interface counts as enabled.
      EXPECT_EQ(app.link(1), Hardware::Bcm53134::LinkStatus::linkUp);
      EXPECT_EQ(app.extCtrl(1), 0x1000);
    }
  }
}

// A transaction whose result can never arrive: the register service deleted
// while a read is outstanding. The watchdog fails it three poll periods
// later and the next cycle runs normally. (A rewritten xid, whose result can
// never match, is the attribute-misuse scenario's and TracePrefix's.)
TEST_F(Settled, ATransactionThatCanNeverCompleteIsFailedByTheWatchdog) {
  for (char const* misuse : {"registerSm", "registerStatus"}) {
    SCOPED_TRACE(misuse);
    untilReadOutstanding();
    auto const outstanding = sm().xid();
    auto const issuedAt = TestSupport::now();
    Generic::del(sm(), misuse);
    std::string const error = "XID " + std::to_string(outstanding) +
                              ": Poll error in state readingRegVals: no result within 6 s";
    ASSERT_TRUE(app.runUntil([&] { return app.status->error() == error; }, 10));
    EXPECT_NEAR(TestSupport::now() - issuedAt, 6.0, 0.01);
    EXPECT_TRUE(tc.has("ADDR::doPoll: " + error));
    EXPECT_EQ(sm().state(), State::idle);
    ASSERT_TRUE(app.runCycle());
    EXPECT_EQ(app.status->error(), "");
    if (std::string(misuse) == "registerSm")
      app.useTestCpuIfMgr();
  }
  expectStillPolling();
}

// A record instantiated through the interface with other creation arguments
// than the agent's: the agent keeps it and creates only what is missing.
TEST_F(Settled, ARecordInstantiatedWithOtherArgumentsDoesNotStopTheCycle) {
  Generic::insert(sm(), "registerVal",
                  {Value::of(RegisterId(0x12, 0x20)), Value::of(std::uint32_t{2}),
                   Value::of(std::uint32_t{0}), Value::of(std::uint32_t{0xffff})});
  app.mgmtInterfaceIs(1, "Management2", "", 2, 6);
  ASSERT_TRUE(
      app.runUntil([&] { return app.sm().registerVal(RegisterId(0x12, 0x30)) != nullptr; }));
  EXPECT_EQ(sm().registerVal(RegisterId(0x12, 0x20))->validityCheckMask(), 0xffffu);
  // Its foreign rule refuses what is written to it; the cycle after that
  // failure builds the register set afresh, with the agent's own records.
  EXPECT_TRUE(
      app.runUntil([&] { return app.auxCtrl(6) == 0x430 && app.extCtrl(2) == 0x1000; }, 20));
  expectStillPolling();
}

TEST_F(Settled, ALongErrorTextIsPublishedWhole) {
  std::string const text(1000, 'e');
  sm().repollingNeededIs(true);
  app.chip->failNextAccesses(1, text);
  ASSERT_TRUE(app.runCycle());
  EXPECT_EQ(app.status->error(),
            "XID " + std::to_string(sm().xid()) + ": Poll error in state readingRegVals: " + text);
}

// The source prefix of every line names the operation that the line's text
// names, through a cycle that reads, writes, fails and times out.
TEST(TracePrefix, NamesTheOperationTheLineBelongsTo) {
  TestSupport::TraceCapture tc("Bcm53134Agent/0-8");
  TestSupport::SimAppliance app;
  app.mgmtInterfaceIs(0, "Management1", "", 1, 5);
  app.start();
  ASSERT_TRUE(app.runUntilIdleState());
  app.sm().repollingNeededIs(true);
  app.chip->failNextAccesses(1, "MDIO timeout");
  ASSERT_TRUE(app.runCycle());
  app.sm().repollingNeededIs(true);
  ASSERT_TRUE(app.runUntil([&] { return app.sm().registerSm()->busy(); }, 5));
  app.sm().xidIs(1000);
  ASSERT_TRUE(
      app.runUntil([&] { return app.status->error().find("no result") != std::string::npos; }, 10));

  std::regex const line(R"(^[A-Za-z0-9]+\.cpp:[0-9]+ ([A-Za-z0-9]+): ([^:]+)::([A-Za-z0-9]+).*)");
  std::vector<std::string> masked;
  for (auto const& l : tc.sink.lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(l, m, line)) << l;
    EXPECT_EQ(m[1], m[3]) << l;
    masked.push_back(
        std::regex_replace(l, std::regex(R"(^[A-Za-z0-9]+\.cpp:[0-9]+ )"), "FILE:LINE "));
  }
  auto has = [&](std::string const& prefix) {
    for (auto const& l : masked) {
      if (std::regex_replace(l, std::regex("0x[0-9a-f]{8,}"), "ADDR") == prefix)
        return true;
    }
    return false;
  };
  EXPECT_TRUE(has("FILE:LINE doInit: Bcm53134Agent::doInit"));
  EXPECT_TRUE(
      has("FILE:LINE readRegVals: ADDR::readRegVals: XID 1: reading register page 0x11 "
          "addr 0x20"));
  EXPECT_TRUE(
      has("FILE:LINE handleRegisterResult: ADDR::handleRegisterResult: XID 9: Poll error "
          "in state readingRegVals: MDIO timeout"));
  EXPECT_TRUE(
      has("FILE:LINE doPoll: ADDR::doPoll: XID 10: Poll error in state readingRegVals: "
          "no result within 6 s"));
}

}  // namespace
