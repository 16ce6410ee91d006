#pragma once

#include "platform/kiv/Trace.h"

namespace Bcm53134::Agent {

// The switch side's trace facility, "Bcm53134Agent", created on first use.
Kiv::TraceHandle& trace();

}  // namespace Bcm53134::Agent
