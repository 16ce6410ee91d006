// The CPU interface side's type module: the attribute tables of its types and
// their registration when the library loads.
#include "Bcm53X/CpuIfMgr/CpuIfMgr.h"
#include "Bcm53X/CpuIfMgr/CpuInterface.h"
#include "Bcm53X/CpuIfMgr/MacVlanCpuIfMgr.h"
#include "Bcm53X/CpuIfMgr/MacVlanCpuInterface.h"
#include "Bcm53X/CpuIfMgr/TestCpuIfMgr.h"
#include "Bcm53X/CpuIfMgr/TestCpuInterface.h"
#include "platform/kiv/AttrTable.h"

namespace Bcm53134::Agent {

using Kiv::AttrDesc;
using Kiv::param;
using Kiv::self;
using Kiv::TypeDesc;
using Kiv::Value;

namespace {

AttrDesc managerOperation(Kiv::AttributeId id, char const* name,
                          void (CpuIfMgr::*op)(Orba::String const&)) {
  return Kiv::operation(id, name, {param<Orba::String>("name")},
                        [op](Orba::Node& n, std::vector<Value> const& args) {
                          (self<CpuIfMgr>(n).*op)(args.at(0).as<Orba::String>());
                          return Value();
                        });
}

// A manager's table: its interfaces by name, found or created on insertion,
// listed in name order.
template <class Mgr>
TypeDesc managerType(char const* name, Kiv::AttributeId id) {
  using Elem = typename Mgr::Interface;
  auto t = Kiv::entityType(name, &CpuIfMgr::typeDesc());
  t.attrs = {Kiv::collection(
      id, "cpuInterface", &Elem::typeDesc(), &Kiv::TypeOf<Orba::String>::desc(),
      {.params = {param<Orba::String>("name")},
       .lookup =
           [](Orba::Node const& n, Value const& key) {
             return Value::of(self<Mgr>(n).cpuInterface(key.as<Orba::String>()));
           },
       .insert =
           [](Orba::Node& n, std::vector<Value> const& args) {
             return Value::of(self<Mgr>(n).cpuInterfaceIs(args.at(0).as<Orba::String>()));
           },
       .del =
           [](Orba::Node& n, Value const& key) {
             return Value::of(self<Mgr>(n).cpuInterfaceDel(key.as<Orba::String>()));
           },
       .count = [](Orba::Node const& n) { return self<Mgr>(n).cpuInterfaceCount(); },
       .members =
           [](Orba::Node const& n) {
             std::vector<std::pair<Value, Value>> r;
             for (auto const& e : self<Mgr>(n).cpuInterfaceByName())
               r.emplace_back(Value::of(e->name()), Value::of(e));
             return r;
           }})};
  return t;
}

}  // namespace

TypeDesc const& CpuIfMgr::typeDesc() {
  static TypeDesc const d = [] {
    auto t = Kiv::entityType("Bcm53134::Agent::CpuIfMgr");
    // The operations dispatch through the virtual slots, so they reach the
    // concrete manager whichever type the caller holds.
    t.attrs = {managerOperation(0x5101, "enable", &CpuIfMgr::enable),
               managerOperation(0x5102, "disable", &CpuIfMgr::disable)};
    return t;
  }();
  return d;
}

TypeDesc const& CpuInterface::typeDesc() {
  static TypeDesc const d = [] {
    auto t = Kiv::entityType("Bcm53134::Agent::CpuInterface");
    t.attrs = {Kiv::readOnly<&CpuInterface::name>(0x5111, "name"),
               Kiv::readWrite<&CpuInterface::state, &CpuInterface::stateIs>(0x5112, "state")};
    return t;
  }();
  return d;
}

TypeDesc const& MacVlanCpuInterface::typeDesc() {
  static TypeDesc const d = [] {
    using I = MacVlanCpuInterface;
    auto t = Kiv::entityType("Bcm53134::Agent::MacVlanCpuInterface", &CpuInterface::typeDesc());
    t.attrs = {Kiv::voidOperation<&I::enable>(0x5121, "enable"),
               Kiv::voidOperation<&I::disable>(0x5122, "disable"),
               Kiv::operation(
                   0x5123, "setProtodown", {param<Kiv::U8>("op")},
                   [](Orba::Node& n, std::vector<Value> const& args) {
                     return Value::of(self<I>(n).setProtodown(args.at(0).as<Kiv::U8>()));
                   },
                   &Kiv::TypeOf<Orba::String>::desc())};
    t.ctorParams = {param<Orba::String>("name")};
    t.construct = [](std::vector<Value> const& args) {
      return Value::of(MacVlanCpuInterfaceIs(args.at(0).as<Orba::String>()));
    };
    return t;
  }();
  return d;
}

TypeDesc const& TestCpuInterface::typeDesc() {
  static TypeDesc const d = [] {
    using I = TestCpuInterface;
    auto t = Kiv::entityType("Bcm53134::Agent::TestCpuInterface", &CpuInterface::typeDesc());
    t.attrs = {Kiv::voidOperation<&I::enable>(0x5141, "enable"),
               Kiv::voidOperation<&I::disable>(0x5142, "disable"),
               Kiv::readWrite<&I::simFail, &I::simFailIs>(0x5143, "simFail")};
    return t;
  }();
  return d;
}

TypeDesc const& MacVlanCpuIfMgr::typeDesc() {
  static TypeDesc const d =
      managerType<MacVlanCpuIfMgr>("Bcm53134::Agent::MacVlanCpuIfMgr", 0x5131);
  return d;
}

TypeDesc const& TestCpuIfMgr::typeDesc() {
  static TypeDesc const d = [] {
    auto t = managerType<TestCpuIfMgr>("Bcm53134::Agent::TestCpuIfMgr", 0x5151);
    t.construct = [](std::vector<Value> const&) { return Value::of(TestCpuIfMgrIs()); };
    return t;
  }();
  return d;
}

namespace {

// Loading the agent library registers the CPU interface types.
Kiv::TypeModule const cpuIfMgrTypeModule{
    &Kiv::TypeOf<CpuInterface::State>::desc(),
    &CpuIfMgr::typeDesc(),
    &CpuInterface::typeDesc(),
    &MacVlanCpuIfMgr::typeDesc(),
    &MacVlanCpuInterface::typeDesc(),
    &TestCpuIfMgr::typeDesc(),
    &TestCpuInterface::typeDesc(),
};

}  // namespace

}  // namespace Bcm53134::Agent

Kiv::TypeDesc const& Kiv::TypeOf<Bcm53134::Agent::CpuInterface::State>::desc() {
  static Kiv::TypeDesc const d = Kiv::enumType<Bcm53134::Agent::CpuInterface::State>(
      Bcm53134::Agent::CpuInterface::stateNames());
  return d;
}
