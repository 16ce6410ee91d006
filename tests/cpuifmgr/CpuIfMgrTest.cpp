#include <gtest/gtest.h>

#include "Bcm53X/CpuIfMgr/MacVlanCpuIfMgr.h"
#include "Bcm53X/CpuIfMgr/TestCpuIfMgr.h"
#include "platform/kiv/Generic.h"
#include "tests/support/Loop.h"

using namespace Bcm53134::Agent;
namespace Generic = Kiv::Generic;
using State = CpuInterface::State;
using Lines = std::vector<std::string>;
using Kiv::Value;

namespace {

Value text(char const* s) {
  return Value::of(Orba::String(s));
}

// The types are registered at load; the two concrete ones are made by name
// alone, the others refuse.
TEST(CpuIfMgrTypes, RegisteredAtLoadWithConstructionForTwoTypes) {
  auto& reg = Kiv::TypeRegistry::instance();
  for (char const* n : {"CpuIfMgr", "CpuInterface", "CpuInterface::State", "MacVlanCpuIfMgr",
                        "MacVlanCpuInterface", "TestCpuIfMgr", "TestCpuInterface"}) {
    EXPECT_TRUE(reg.type(std::string("Bcm53134::Agent::") + n)) << n;
  }

  auto intf = Kiv::handleAs<MacVlanCpuInterface>(
      Generic::construct("Bcm53134::Agent::MacVlanCpuInterface", {text("eth1")}));
  ASSERT_TRUE(intf);
  EXPECT_EQ(intf->name(), "eth1");
  EXPECT_EQ(intf->state(), State::unknown);
  EXPECT_EQ(intf->references(), 1u);

  auto mgr = Kiv::handleAs<CpuIfMgr>(Generic::construct("Bcm53134::Agent::TestCpuIfMgr", {}));
  ASSERT_TRUE(Orba::ptrCast<TestCpuIfMgr>(mgr));
  EXPECT_EQ(mgr->references(), 1u);

  for (char const* n : {"CpuIfMgr", "CpuInterface", "MacVlanCpuIfMgr", "TestCpuInterface"}) {
    EXPECT_THROW(Generic::construct(std::string("Bcm53134::Agent::") + n, {text("eth1")}),
                 Kiv::AttributeError)
        << n;
    EXPECT_THROW(Generic::construct(std::string("Bcm53134::Agent::") + n, {}), Kiv::AttributeError)
        << n;
  }
}

// Both managers pass where a CpuIfMgr is expected. The manager and interface
// operations and attributes called generically (what agentctl and the
// scenarios reach: show agent, insert, lookup and delete in
// simulated-cpu-interface-failure and attribute-misuse) reach the concrete
// objects.
TEST(CpuIfMgrTypes, ManagersAndInterfacesThroughTheGenericInterface) {
  EXPECT_TRUE(MacVlanCpuIfMgr::typeDesc().isA(&CpuIfMgr::typeDesc()));
  EXPECT_TRUE(TestCpuIfMgr::typeDesc().isA(&CpuIfMgr::typeDesc()));
  EXPECT_TRUE(TestCpuInterface::typeDesc().isA(&CpuInterface::typeDesc()));

  auto mgr = testCpuIfMgrFactory();
  EXPECT_EQ(Kiv::handleAs<CpuIfMgr>(Value::of(Orba::Ptr<CpuIfMgr>(mgr))), mgr);
  Generic::call(*mgr, "disable", {text("eth2")});
  EXPECT_EQ(mgr->cpuInterface("eth2")->state(), State::disabled);
  Generic::call(*mgr, "enable", {text("eth2")});
  EXPECT_EQ(mgr->cpuInterface("eth2")->state(), State::enabled);
  EXPECT_THROW(Generic::call(*mgr, "enable", {}), Kiv::AttributeError);

  auto eth1 = mgr->cpuInterfaceIs("eth1");
  Generic::setText(*eth1, "state", "disabled");
  EXPECT_EQ(eth1->state(), State::disabled);
  Generic::setText(*eth1, "state", "1");
  EXPECT_EQ(Generic::get(*eth1, "state").text(), "enabled");
  EXPECT_THROW(Generic::setText(*eth1, "state", "down"), Kiv::AttributeError);
  EXPECT_THROW(Generic::setText(*eth1, "name", "eth9"), Kiv::AttributeError);
  Generic::call(*eth1, "disable");
  EXPECT_EQ(eth1->state(), State::disabled);
}

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
