#include "bench/Trace.h"

namespace Bench {

TraceScope::TraceScope(char const* spec) : previous_(Kiv::traceSinkIs(&sink)) {
  Kiv::TraceHandle::maskSpecIs("*/none");
  if (spec)
    Kiv::TraceHandle::maskSpecIs(spec);
}

TraceScope::~TraceScope() {
  Kiv::TraceHandle::maskSpecIs("*/none");
  Kiv::traceSinkIs(previous_);
}

}  // namespace Bench
