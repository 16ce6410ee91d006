#include <gtest/gtest.h>

#include "Bcm53X/CpuIfMgr/MacVlanCpuIfMgr.h"
#include "Bcm53X/CpuIfMgr/TestCpuIfMgr.h"
#include "platform/kiv/Generic.h"

using namespace Bcm53134::Agent;
namespace Generic = Kiv::Generic;
using State = CpuInterface::State;
using Kiv::Value;

namespace {

Value text(char const* s) {
  return Value::of(Orba::String(s));
}

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

// Both managers pass where a CpuIfMgr is expected, and the manager operations
// called generically reach the concrete manager.
TEST(CpuIfMgrTypes, ManagersTakeTheAbstractPlace) {
  auto const* abstract = &CpuIfMgr::typeDesc();
  EXPECT_TRUE(MacVlanCpuIfMgr::typeDesc().isA(abstract));
  EXPECT_TRUE(TestCpuIfMgr::typeDesc().isA(abstract));
  EXPECT_TRUE(TestCpuInterface::typeDesc().isA(&CpuInterface::typeDesc()));

  auto mgr = testCpuIfMgrFactory();
  Value asAbstract = Value::of(Orba::Ptr<CpuIfMgr>(mgr));
  EXPECT_EQ(Kiv::handleAs<CpuIfMgr>(asAbstract), mgr);
  Generic::call(*mgr, "disable", {text("eth2")});
  EXPECT_EQ(mgr->cpuInterface("eth2")->state(), State::disabled);
  Generic::call(*mgr, "enable", {text("eth2")});
  EXPECT_EQ(mgr->cpuInterface("eth2")->state(), State::enabled);
  EXPECT_THROW(Generic::call(*mgr, "enable", {}), Kiv::AttributeError);
}

// The collection of CPU interfaces through the generic interface is what
// agentctl and the scenarios reach (show agent, insert, lookup and delete in
// simulated-cpu-interface-failure and attribute-misuse).
TEST(CpuIfMgrTypes, InterfaceAttributes) {
  auto mgr = testCpuIfMgrFactory();
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

}  // namespace
