#include "Bcm53X/CpuIfMgr/MacVlanCpuInterface.h"

#include "Bcm53X/CpuIfMgr/CpuIfMgrTrace.h"
#include "Bcm53X/CpuIfMgr/ProtodownOp.h"

namespace Bcm53134::Agent {

Orba::Ptr<MacVlanCpuInterface> MacVlanCpuInterface::MacVlanCpuInterfaceIs(
    Orba::String const& name) {
  return Orba::Ptr<MacVlanCpuInterface>::adopt(new MacVlanCpuInterface(name));
}

Orba::Ptr<MacVlanCpuInterface> macVlanCpuInterfaceFactory(Orba::String const& name) {
  return MacVlanCpuInterface::MacVlanCpuInterfaceIs(name);
}

void MacVlanCpuInterface::enable() {
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
  // The outcome is traced by the operation; the verdict stands either way
  // and is not retried while it does.
  setProtodown(0);
  KIV_TRACE(th, 0) << static_cast<void const*>(this) << "::"
                   << "enable"
                   << ": interface " << name() << " enabled";
  stateIs(State::enabled);
}

void MacVlanCpuInterface::disable() {
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
  setProtodown(1);
  KIV_TRACE(th, 0) << static_cast<void const*>(this) << "::"
                   << "disable"
                   << ": interface " << name() << " disabled";
  stateIs(State::disabled);
}

Orba::String MacVlanCpuInterface::setProtodown(std::uint8_t op) {
  KIV_TRACE(cpuIfMgrTrace(), 1) << static_cast<void const*>(this) << "::"
                                << "setProtodown"
                                << ": setting protodown to " << op;
  ProtodownOp pdo(name(), op);
  return pdo.run();
}

Kiv::TypeDesc const& MacVlanCpuInterface::typeDesc() {
  static Kiv::TypeDesc const d = [] {
    using Kiv::Value;
    Kiv::TypeDesc t =
        Kiv::entityType("Bcm53134::Agent::MacVlanCpuInterface", &CpuInterface::typeDesc());
    Kiv::AttrDesc enable;
    enable.id = 0x5121;
    enable.name = "enable";
    enable.kind = Kiv::AttrKind::operation;
    enable.call = [](Orba::Node& n, std::vector<Value> const&) {
      Kiv::self<MacVlanCpuInterface>(n).enable();
      return Value();
    };
    Kiv::AttrDesc disable;
    disable.id = 0x5122;
    disable.name = "disable";
    disable.kind = Kiv::AttrKind::operation;
    disable.call = [](Orba::Node& n, std::vector<Value> const&) {
      Kiv::self<MacVlanCpuInterface>(n).disable();
      return Value();
    };
    Kiv::AttrDesc setProtodown;
    setProtodown.id = 0x5123;
    setProtodown.name = "setProtodown";
    setProtodown.kind = Kiv::AttrKind::operation;
    setProtodown.type = &Kiv::TypeOf<Orba::String>::desc();
    setProtodown.params = {Kiv::ParamDesc{"op", &Kiv::TypeOf<Kiv::U8>::desc()}};
    setProtodown.call = [](Orba::Node& n, std::vector<Value> const& args) {
      return Value::of(Kiv::self<MacVlanCpuInterface>(n).setProtodown(args.at(0).as<Kiv::U8>()));
    };
    t.attrs = {enable, disable, setProtodown};
    t.ctorParams = {Kiv::ParamDesc{"name", &Kiv::TypeOf<Orba::String>::desc()}};
    t.construct = [](std::vector<Value> const& args) {
      return Value::of(MacVlanCpuInterfaceIs(args.at(0).as<Orba::String>()));
    };
    return t;
  }();
  return d;
}
Kiv::TypeDesc const* MacVlanCpuInterface::typeData() const {
  return &typeDesc();
}

}  // namespace Bcm53134::Agent
