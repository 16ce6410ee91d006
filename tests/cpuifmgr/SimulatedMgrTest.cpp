#include <gtest/gtest.h>

#include "Bcm53X/CpuIfMgr/MacVlanCpuIfMgr.h"
#include "Bcm53X/CpuIfMgr/TestCpuIfMgr.h"
#include "tests/support/Loop.h"

using namespace Bcm53134::Agent;
using State = CpuInterface::State;
using Lines = std::vector<std::string>;

namespace {

// One row of the simulated interface's state table: the interface eth1 in a
// state, with simFail, receives enable or disable through its manager.
struct Row {
  State from;
  bool enable;
  bool simFail;
  State to;
  Lines trace;
};

TEST(TestCpuIfMgr, StateTable) {
  Lines const enabling{"L1 ADDR::enable: enabling interface eth1"};
  Lines const disabling{"L1 ADDR::disable: disabling interface eth1"};
  auto with = [](Lines a, char const* last) {
    a.push_back(last);
    return a;
  };
  std::vector<Row> const rows{
      {State::enabled,
       true,
       false,
       State::enabled,
       {"L8 ADDR::enable: interface eth1 already enabled"}},
      {State::enabled,
       true,
       true,
       State::enabled,
       {"L8 ADDR::enable: interface eth1 already enabled"}},
      {State::unknown, true, false, State::enabled,
       with(enabling, "L0 ADDR::enable: interface eth1 enabled")},
      {State::disabled, true, false, State::enabled,
       with(enabling, "L0 ADDR::enable: interface eth1 enabled")},
      {State::unknown, true, true, State::unknown,
       with(enabling,
            "L0 ADDR::enable: setting interface eth1 to unknown due to enable sim failure")},
      {State::disabled, true, true, State::unknown,
       with(enabling,
            "L0 ADDR::enable: setting interface eth1 to unknown due to enable sim failure")},
      {State::disabled,
       false,
       false,
       State::disabled,
       {"L8 ADDR::disable: interface eth1 already disabled"}},
      {State::disabled,
       false,
       true,
       State::disabled,
       {"L8 ADDR::disable: interface eth1 already disabled"}},
      {State::unknown, false, false, State::disabled,
       with(disabling, "L0 ADDR::disable: interface eth1 disabled")},
      {State::enabled, false, false, State::disabled,
       with(disabling, "L0 ADDR::disable: interface eth1 disabled")},
      {State::unknown, false, true, State::unknown,
       with(disabling,
            "L0 ADDR::disable: setting interface eth1 to unknown due to disable sim failure")},
      {State::enabled, false, true, State::unknown,
       with(disabling,
            "L0 ADDR::disable: setting interface eth1 to unknown due to disable sim failure")},
  };
  for (auto const& row : rows) {
    SCOPED_TRACE(std::string(CpuInterface::stringValue(row.from)) +
                 (row.enable ? " enable" : " disable") + (row.simFail ? " simFail" : ""));
    auto mgr = testCpuIfMgrFactory();
    auto intf = mgr->cpuInterfaceIs("eth1");
    intf->stateIs(row.from);
    intf->simFailIs(row.simFail);
    TestSupport::TraceCapture trace{"CpuIfMgr/0-8"};
    CpuIfMgr& generic = *mgr;
    row.enable ? generic.enable("eth1") : generic.disable("eth1");
    EXPECT_EQ(intf->state(), row.to);
    EXPECT_EQ(intf->simFail(), row.simFail);
    EXPECT_EQ(trace.leveled(), row.trace);
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
