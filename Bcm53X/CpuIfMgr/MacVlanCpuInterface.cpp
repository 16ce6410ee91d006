#include "Bcm53X/CpuIfMgr/MacVlanCpuInterface.h"

#include "Bcm53X/CpuIfMgr/CpuIfMgrTrace.h"
#include "Bcm53X/CpuIfMgr/ProtodownOp.h"
#include "platform/kiv/TraceOp.h"

namespace Bcm53134::Agent {

Orba::Ptr<MacVlanCpuInterface> MacVlanCpuInterface::MacVlanCpuInterfaceIs(
    Orba::String const& name) {
  return Orba::Ptr<MacVlanCpuInterface>::adopt(new MacVlanCpuInterface(name));
}

Orba::Ptr<MacVlanCpuInterface> macVlanCpuInterfaceFactory(Orba::String const& name) {
  return MacVlanCpuInterface::MacVlanCpuInterfaceIs(name);
}

// The outcome is traced by the operation; the verdict stands either way
// and is not retried while it does.
bool MacVlanCpuInterface::carryOut(State to) {
  setProtodown(to == State::enabled ? 0 : 1);
  return true;
}

Orba::String MacVlanCpuInterface::setProtodown(std::uint8_t op) {
  KIV_TRACE(cpuIfMgrTrace(), 1) << Kiv::traceOp(this, "setProtodown") << ": setting protodown to "
                                << op;
  ProtodownOp pdo(name(), op);
  return pdo.run();
}

}  // namespace Bcm53134::Agent
