#include <gtest/gtest.h>

#include "Bcm53X/CpuIfMgr/MacVlanCpuIfMgr.h"
#include "Bcm53X/CpuIfMgr/TestCpuIfMgr.h"
#include "tests/support/Loop.h"

using namespace Bcm53134::Agent;
using State = CpuInterface::State;
using Lines = std::vector<std::string>;

namespace {

// One row of the simulated interface's state table: the interface eth1 in a
// state, with simFail, receives enable or disable through its manager, and
// ends in a state, having found nothing to do, done it, or failed.
enum class Outcome { already, done, failed };
struct Row {
  State from;
  bool enable, simFail;
  State to;
  Outcome outcome;
};

TEST(TestCpuIfMgr, StateTable) {
  using enum State;
  using enum Outcome;
  std::vector<Row> const rows{
      {enabled, true, false, enabled, already},    {enabled, true, true, enabled, already},
      {unknown, true, false, enabled, done},       {disabled, true, false, enabled, done},
      {unknown, true, true, unknown, failed},      {disabled, true, true, unknown, failed},
      {disabled, false, false, disabled, already}, {disabled, false, true, disabled, already},
      {unknown, false, false, disabled, done},     {enabled, false, false, disabled, done},
      {unknown, false, true, unknown, failed},     {enabled, false, true, unknown, failed},
  };
  for (auto const& row : rows) {
    std::string const op = row.enable ? "enable" : "disable", at = "ADDR::" + op + ": ";
    SCOPED_TRACE(std::string(CpuInterface::stringValue(row.from)) + " " + op +
                 (row.simFail ? " simFail" : ""));
    Lines trace{"L1 " + at + op.substr(0, op.size() - 1) + "ing interface eth1",
                row.outcome == done ? "L0 " + at + "interface eth1 " + op + "d"
                                    : "L0 " + at + "setting interface eth1 to unknown due to " +
                                          op + " sim failure"};
    if (row.outcome == already)
      trace = {"L8 " + at + "interface eth1 already " + op + "d"};
    auto mgr = testCpuIfMgrFactory();
    auto intf = mgr->cpuInterfaceIs("eth1");
    intf->stateIs(row.from);
    intf->simFailIs(row.simFail);
    TestSupport::TraceCapture capture{"CpuIfMgr/0-8"};
    CpuIfMgr& generic = *mgr;
    row.enable ? generic.enable("eth1") : generic.disable("eth1");
    EXPECT_EQ(intf->state(), row.to);
    EXPECT_EQ(intf->simFail(), row.simFail);
    EXPECT_EQ(capture.leveled(), trace);
    EXPECT_EQ(mgr->cpuInterfaceCount(), 1u);
  }
}

template <class Mgr>
Orba::Ptr<Mgr> newManager();
template <>
Orba::Ptr<TestCpuIfMgr> newManager() {
  return testCpuIfMgrFactory();
}
template <>
Orba::Ptr<MacVlanCpuIfMgr> newManager() {
  return MacVlanCpuIfMgr::MacVlanCpuIfMgrIs();
}

template <class Mgr>
class Collection : public ::testing::Test {};
using Managers = ::testing::Types<TestCpuIfMgr, MacVlanCpuIfMgr>;
TYPED_TEST_SUITE(Collection, Managers);

// Find or create, deletion and ownership; no enable or disable, so the
// netlink manager touches nothing here.
TYPED_TEST(Collection, FindOrCreateAndDelete) {
  auto const liveBefore = Orba::Node::liveCount();
  {
    auto mgr = newManager<TypeParam>();
    auto a = mgr->cpuInterfaceIs("eth1");
    a->stateIs(State::disabled);
    EXPECT_EQ(mgr->cpuInterfaceIs("eth1"), a);
    EXPECT_EQ(a->state(), State::disabled) << "finding keeps the state";
    EXPECT_NE(mgr->cpuInterfaceIs("ETH1"), a) << "names are exact strings";
    EXPECT_EQ(mgr->cpuInterfaceCount(), 2u);

    EXPECT_FALSE(mgr->cpuInterfaceDel("eth2"));
    EXPECT_EQ(mgr->cpuInterfaceCount(), 2u);
    auto removed = mgr->cpuInterfaceDel("eth1");
    EXPECT_EQ(removed, a);
    EXPECT_EQ(removed->state(), State::disabled);
    EXPECT_FALSE(mgr->cpuInterface("eth1"));
    auto again = mgr->cpuInterfaceIs("eth1");
    EXPECT_NE(again, a);
    EXPECT_EQ(again->state(), State::unknown);

    mgr->cpuInterfaceDelAll();
    EXPECT_EQ(mgr->cpuInterfaceCount(), 0u);
    EXPECT_EQ(again->references(), 1u) << "the collection let go of its reference";

    mgr->cpuInterfaceIs("eth3");
  }
  EXPECT_EQ(Orba::Node::liveCount(), liveBefore) << "the manager releases its interfaces";
}

TEST(MacVlanCpuIfMgr, FactoryInterfaceIsInNoManager) {
  auto loose = macVlanCpuInterfaceFactory("eth1");
  auto mgr = MacVlanCpuIfMgr::MacVlanCpuIfMgrIs();
  EXPECT_EQ(mgr->cpuInterfaceCount(), 0u);
  EXPECT_NE(mgr->cpuInterfaceIs("eth1"), loose);
  EXPECT_EQ(loose->references(), 1u);
}

}  // namespace
