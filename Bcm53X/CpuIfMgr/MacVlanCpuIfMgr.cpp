#include "Bcm53X/CpuIfMgr/MacVlanCpuIfMgr.h"

namespace Bcm53134::Agent {

Orba::Ptr<MacVlanCpuIfMgr> MacVlanCpuIfMgr::MacVlanCpuIfMgrIs() {
  return Orba::Ptr<MacVlanCpuIfMgr>::adopt(new MacVlanCpuIfMgr());
}

MacVlanCpuIfMgr::~MacVlanCpuIfMgr() {
  cpuInterfaceDelAll();
}

Orba::Ptr<MacVlanCpuInterface> MacVlanCpuIfMgr::cpuInterfaceIs(Orba::String const& name) {
  return cpuInterface_.memberIs(name, &MacVlanCpuInterface::MacVlanCpuInterfaceIs);
}

Orba::Ptr<MacVlanCpuInterface> MacVlanCpuIfMgr::cpuInterfaceDel(Orba::String const& name) {
  return cpuInterface_.memberDel(name);
}

void MacVlanCpuIfMgr::cpuInterfaceDelAll() {
  cpuInterface_.memberDelAll();
}

void MacVlanCpuIfMgr::enable(Orba::String const& name) {
  cpuInterfaceIs(name)->enable();
}

void MacVlanCpuIfMgr::disable(Orba::String const& name) {
  cpuInterfaceIs(name)->disable();
}

Kiv::TypeDesc const& MacVlanCpuIfMgr::typeDesc() {
  static Kiv::TypeDesc const d = [] {
    Kiv::TypeDesc t = Kiv::entityType("Bcm53134::Agent::MacVlanCpuIfMgr", &CpuIfMgr::typeDesc());
    t.attrs = {cpuInterfaceCollectionAttr<MacVlanCpuIfMgr, MacVlanCpuInterface>(0x5131)};
    return t;
  }();
  return d;
}
Kiv::TypeDesc const* MacVlanCpuIfMgr::typeData() const {
  return &typeDesc();
}

}  // namespace Bcm53134::Agent
