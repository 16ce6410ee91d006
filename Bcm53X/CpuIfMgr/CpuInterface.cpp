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

Kiv::TypeDesc const& CpuInterface::typeDesc() {
  static Kiv::TypeDesc const d = [] {
    Kiv::TypeDesc t = Kiv::entityType("Bcm53134::Agent::CpuInterface");
    Kiv::AttrDesc name;
    name.id = 0x5111;
    name.name = "name";
    name.type = &Kiv::TypeOf<Orba::String>::desc();
    name.get = [](Orba::Node const& n) {
      return Kiv::Value::of(Kiv::self<CpuInterface>(n).name());
    };
    Kiv::AttrDesc state;
    state.id = 0x5112;
    state.name = "state";
    state.type = &Kiv::TypeOf<State>::desc();
    state.get = [](Orba::Node const& n) {
      return Kiv::Value::of(Kiv::self<CpuInterface>(n).state());
    };
    state.set = [](Orba::Node& n, Kiv::Value const& v) {
      Kiv::self<CpuInterface>(n).stateIs(v.as<State>());
    };
    t.attrs = {name, state};
    return t;
  }();
  return d;
}
Kiv::TypeDesc const* CpuInterface::typeData() const {
  return &typeDesc();
}

}  // namespace Bcm53134::Agent

namespace Kiv {

TypeDesc const& TypeOf<Bcm53134::Agent::CpuInterface::State>::desc() {
  static TypeDesc const d =
      enumType<Bcm53134::Agent::CpuInterface::State>(Bcm53134::Agent::CpuInterface::stateNames());
  return d;
}

}  // namespace Kiv
