#include "Bcm53X/CpuIfMgr/TestCpuInterface.h"

#include "Bcm53X/CpuIfMgr/CpuIfMgrTrace.h"

namespace Bcm53134::Agent {

Orba::Ptr<TestCpuInterface> TestCpuInterface::TestCpuInterfaceIs(Orba::String const& name) {
  return Orba::Ptr<TestCpuInterface>::adopt(new TestCpuInterface(name));
}

void TestCpuInterface::enable() {
  auto& th = cpuIfMgrTrace();
  if (state() == State::enabled) {
    KIV_TRACE(th, 8) << static_cast<void const*>(this) << "::"
                     << "enable"
                     << ": interface " << name() << " already enabled";
    return;
  }
  KIV_TRACE(th, 1) << static_cast<void const*>(this) << "::"
                   << "enable"
                   << ": enabling interface " << name();
  if (simFail_) {
    KIV_TRACE(th, 0) << static_cast<void const*>(this) << "::"
                     << "enable"
                     << ": setting interface " << name() << " to unknown due to enable sim failure";
    stateIs(State::unknown);
    return;
  }
  KIV_TRACE(th, 0) << static_cast<void const*>(this) << "::"
                   << "enable"
                   << ": interface " << name() << " enabled";
  stateIs(State::enabled);
}

void TestCpuInterface::disable() {
  auto& th = cpuIfMgrTrace();
  if (state() == State::disabled) {
    KIV_TRACE(th, 8) << static_cast<void const*>(this) << "::"
                     << "disable"
                     << ": interface " << name() << " already disabled";
    return;
  }
  KIV_TRACE(th, 1) << static_cast<void const*>(this) << "::"
                   << "disable"
                   << ": disabling interface " << name();
  if (simFail_) {
    KIV_TRACE(th, 0) << static_cast<void const*>(this) << "::"
                     << "disable"
                     << ": setting interface " << name()
                     << " to unknown due to disable sim failure";
    stateIs(State::unknown);
    return;
  }
  KIV_TRACE(th, 0) << static_cast<void const*>(this) << "::"
                   << "disable"
                   << ": interface " << name() << " disabled";
  stateIs(State::disabled);
}

Kiv::TypeDesc const& TestCpuInterface::typeDesc() {
  static Kiv::TypeDesc const d = [] {
    using Kiv::Value;
    Kiv::TypeDesc t =
        Kiv::entityType("Bcm53134::Agent::TestCpuInterface", &CpuInterface::typeDesc());
    Kiv::AttrDesc enable;
    enable.id = 0x5141;
    enable.name = "enable";
    enable.kind = Kiv::AttrKind::operation;
    enable.call = [](Orba::Node& n, std::vector<Value> const&) {
      Kiv::self<TestCpuInterface>(n).enable();
      return Value();
    };
    Kiv::AttrDesc disable;
    disable.id = 0x5142;
    disable.name = "disable";
    disable.kind = Kiv::AttrKind::operation;
    disable.call = [](Orba::Node& n, std::vector<Value> const&) {
      Kiv::self<TestCpuInterface>(n).disable();
      return Value();
    };
    Kiv::AttrDesc simFail;
    simFail.id = 0x5143;
    simFail.name = "simFail";
    simFail.type = &Kiv::TypeOf<bool>::desc();
    simFail.get = [](Orba::Node const& n) {
      return Value::of(Kiv::self<TestCpuInterface>(n).simFail());
    };
    simFail.set = [](Orba::Node& n, Value const& v) {
      Kiv::self<TestCpuInterface>(n).simFailIs(v.as<bool>());
    };
    t.attrs = {enable, disable, simFail};
    return t;
  }();
  return d;
}
Kiv::TypeDesc const* TestCpuInterface::typeData() const {
  return &typeDesc();
}

}  // namespace Bcm53134::Agent
