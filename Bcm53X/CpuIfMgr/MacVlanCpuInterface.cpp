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

}  // namespace Bcm53134::Agent
