#include "Bcm53X/CpuIfMgr/CpuInterface.h"

#include <ostream>

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

std::ostream& operator<<(std::ostream& os, CpuInterface::State s) {
  return os << CpuInterface::stringValue(s);
}

}  // namespace Bcm53134::Agent
