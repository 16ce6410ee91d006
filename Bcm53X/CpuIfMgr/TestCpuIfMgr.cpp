#include "Bcm53X/CpuIfMgr/TestCpuIfMgr.h"

namespace Bcm53134::Agent {

Orba::Ptr<TestCpuIfMgr> TestCpuIfMgr::TestCpuIfMgrIs() {
  return Orba::Ptr<TestCpuIfMgr>::adopt(new TestCpuIfMgr());
}

Orba::Ptr<TestCpuIfMgr> testCpuIfMgrFactory() {
  return TestCpuIfMgr::TestCpuIfMgrIs();
}

TestCpuIfMgr::~TestCpuIfMgr() {
  cpuInterfaceDelAll();
}

Orba::Ptr<TestCpuInterface> TestCpuIfMgr::cpuInterfaceIs(Orba::String const& name) {
  return cpuInterface_.memberIs(name, &TestCpuInterface::TestCpuInterfaceIs);
}

Orba::Ptr<TestCpuInterface> TestCpuIfMgr::cpuInterfaceDel(Orba::String const& name) {
  return cpuInterface_.memberDel(name);
}

void TestCpuIfMgr::cpuInterfaceDelAll() {
  cpuInterface_.memberDelAll();
}

void TestCpuIfMgr::enable(Orba::String const& name) {
  cpuInterfaceIs(name)->enable();
}

void TestCpuIfMgr::disable(Orba::String const& name) {
  cpuInterfaceIs(name)->disable();
}

Kiv::TypeDesc const& TestCpuIfMgr::typeDesc() {
  static Kiv::TypeDesc const d = [] {
    Kiv::TypeDesc t = Kiv::entityType("Bcm53134::Agent::TestCpuIfMgr", &CpuIfMgr::typeDesc());
    t.attrs = {cpuInterfaceCollectionAttr<TestCpuIfMgr, TestCpuInterface>(0x5151)};
    t.construct = [](std::vector<Kiv::Value> const&) { return Kiv::Value::of(TestCpuIfMgrIs()); };
    return t;
  }();
  return d;
}
Kiv::TypeDesc const* TestCpuIfMgr::typeData() const {
  return &typeDesc();
}

}  // namespace Bcm53134::Agent
