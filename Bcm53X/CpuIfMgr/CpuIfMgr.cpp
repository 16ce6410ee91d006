#include "Bcm53X/CpuIfMgr/CpuIfMgr.h"

#include "Bcm53X/CpuIfMgr/CpuIfMgrTrace.h"
#include "Bcm53X/CpuIfMgr/CpuInterface.h"
#include "Bcm53X/CpuIfMgr/MacVlanCpuIfMgr.h"
#include "Bcm53X/CpuIfMgr/MacVlanCpuInterface.h"
#include "Bcm53X/CpuIfMgr/TestCpuIfMgr.h"
#include "Bcm53X/CpuIfMgr/TestCpuInterface.h"

namespace Bcm53134::Agent {

namespace {

Kiv::AttrDesc managerOperation(Kiv::AttributeId id, char const* name,
                               void (CpuIfMgr::*op)(Orba::String const&)) {
  Kiv::AttrDesc a;
  a.id = id;
  a.name = name;
  a.kind = Kiv::AttrKind::operation;
  a.params = {Kiv::ParamDesc{"name", &Kiv::TypeOf<Orba::String>::desc()}};
  a.call = [op](Orba::Node& n, std::vector<Kiv::Value> const& args) {
    (Kiv::self<CpuIfMgr>(n).*op)(args.at(0).as<Orba::String>());
    return Kiv::Value();
  };
  return a;
}

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

Kiv::TraceHandle& cpuIfMgrTrace() {
  static Kiv::TraceHandle handle("CpuIfMgr");
  return handle;
}

Kiv::TypeDesc const& CpuIfMgr::typeDesc() {
  static Kiv::TypeDesc const d = [] {
    Kiv::TypeDesc t = Kiv::entityType("Bcm53134::Agent::CpuIfMgr");
    // The operations dispatch through the virtual slots, so they reach the
    // concrete manager whichever type the caller holds.
    t.attrs = {managerOperation(0x5101, "enable", &CpuIfMgr::enable),
               managerOperation(0x5102, "disable", &CpuIfMgr::disable)};
    return t;
  }();
  return d;
}
Kiv::TypeDesc const* CpuIfMgr::typeData() const {
  return &typeDesc();
}

}  // namespace Bcm53134::Agent
