#include "Bcm53X/CpuIfMgr/CpuInterface.h"

#include <ostream>

#include "Bcm53X/CpuIfMgr/CpuIfMgrTrace.h"
#include "platform/kiv/TraceOp.h"

namespace Bcm53134::Agent {

Kiv::EnumNames const& CpuInterface::stateNames() {
  static Kiv::EnumNames const names{"Bcm53134::Agent::CpuInterface::State",
                                    {{0, "unknown"}, {1, "enabled"}, {2, "disabled"}}};
  return names;
}

char const* CpuInterface::stringValue(State s) {
  auto const* n = stateNames().name(static_cast<std::uint8_t>(s));
  return n ? n : "invalidState";
}

CpuInterface::State CpuInterface::StateInstance(std::uint8_t v) {
  return static_cast<State>(v);
}

CpuInterface::State CpuInterface::StateInstance(std::string_view text) {
  return static_cast<State>(stateNames().parse(text));
}

void CpuInterface::act(State to) {
  bool const enabling = to == State::enabled;
  char const* const op = enabling ? "enable" : "disable";
  auto& th = cpuIfMgrTrace();
  if (state() == to) {
    KIV_TRACE_OP(th, 8, op) << Kiv::traceOp(this, op) << ": interface " << name() << " already "
                            << stringValue(to);
    return;
  }
  KIV_TRACE_OP(th, 1, op) << Kiv::traceOp(this, op) << ": " << (enabling ? "enabling" : "disabling")
                          << " interface " << name();
  if (!carryOut(to))
    return;
  KIV_TRACE_OP(th, 0, op) << Kiv::traceOp(this, op) << ": interface " << name() << " "
                          << stringValue(to);
  stateIs(to);
}

std::ostream& operator<<(std::ostream& os, CpuInterface::State s) {
  return os << CpuInterface::stringValue(s);
}

}  // namespace Bcm53134::Agent
