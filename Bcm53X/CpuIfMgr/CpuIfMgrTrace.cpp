#include "Bcm53X/CpuIfMgr/CpuIfMgrTrace.h"

namespace Bcm53134::Agent {

Kiv::TraceHandle& cpuIfMgrTrace() {
  static Kiv::TraceHandle handle("CpuIfMgr");
  return handle;
}

}  // namespace Bcm53134::Agent
