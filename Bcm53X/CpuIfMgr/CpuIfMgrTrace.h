#pragma once

#include "platform/kiv/Trace.h"

namespace Bcm53134::Agent {

// The one trace facility of the CPU interface side, "CpuIfMgr"; created on
// first use and kept for the life of the process.
Kiv::TraceHandle& cpuIfMgrTrace();

}  // namespace Bcm53134::Agent
