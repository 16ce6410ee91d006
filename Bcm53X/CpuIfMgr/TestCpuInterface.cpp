#include "Bcm53X/CpuIfMgr/TestCpuInterface.h"

#include "Bcm53X/CpuIfMgr/CpuIfMgrTrace.h"
#include "platform/kiv/TraceOp.h"

namespace Bcm53134::Agent {

Orba::Ptr<TestCpuInterface> TestCpuInterface::TestCpuInterfaceIs(Orba::String const& name) {
  return Orba::Ptr<TestCpuInterface>::adopt(new TestCpuInterface(name));
}

// While simFail is set, every verdict fails.
bool TestCpuInterface::carryOut(State to) {
  if (!simFail_)
    return true;
  char const* const op = to == State::enabled ? "enable" : "disable";
  KIV_TRACE_OP(cpuIfMgrTrace(), 0, op) << Kiv::traceOp(this, op) << ": setting interface " << name()
                                       << " to unknown due to " << op << " sim failure";
  stateIs(State::unknown);
  return false;
}

}  // namespace Bcm53134::Agent
