#include "Bcm53X/Bcm53134Agent/AgentTrace.h"

namespace Bcm53134::Agent {

Kiv::TraceHandle& trace() {
  static Kiv::TraceHandle handle("Bcm53134Agent");
  return handle;
}

}  // namespace Bcm53134::Agent
