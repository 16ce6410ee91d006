#pragma once

#include <cstdint>
#include <iosfwd>
#include <string_view>

#include "platform/kiv/Enum.h"
#include "platform/kiv/Type.h"
#include "platform/kiv/Typed.h"
#include "platform/kiv/Value.h"
#include "platform/orba/Node.h"

namespace Bcm53134::Agent {

// One management (CPU) interface: a Linux netdevice known by name, with the
// last state that its manager acted on. Managers keep one per name; the
// subclasses carry out enable and disable (carryOut).
class CpuInterface : public Kiv::Typed<CpuInterface> {
 public:
  enum class State : std::uint8_t { unknown = 0, enabled = 1, disabled = 2 };

  static Kiv::EnumNames const& stateNames();
  // The name of a state ("unknown", "enabled", "disabled").
  static char const* stringValue(State s);
  static State StateInstance(std::uint8_t v);
  // From a name or a decimal number; anything else raises Kiv::AttributeError.
  static State StateInstance(std::string_view text);
  static State sequenceToValue(std::string_view text) { return StateInstance(text); }

  Orba::String const& name() const noexcept { return name_; }
  State state() const noexcept { return state_; }
  void stateIs(State s) noexcept { state_ = s; }

  static Kiv::TypeDesc const& typeDesc();

 protected:
  explicit CpuInterface(Orba::String const& name) : name_(name) {}
  ~CpuInterface() override = default;

  // Enable (`to` enabled) and disable (`to` disabled), the same for every
  // kind of interface: a verdict already acted on does nothing; another is
  // put into effect by carryOut and becomes the state, unless carryOut
  // returns false, having traced why and set the state itself.
  void act(State to);

 private:
  virtual bool carryOut(State to) = 0;

  Orba::String const name_;
  State state_ = State::unknown;
};

std::ostream& operator<<(std::ostream& os, CpuInterface::State s);

// The key under which a manager keeps an interface: its name, compared as an
// exact string.
struct CpuInterfaceKeyFunktor {
  Orba::String const& operator()(CpuInterface const& intf) const noexcept { return intf.name(); }
};

}  // namespace Bcm53134::Agent

namespace Kiv {
template <>
struct TypeOf<Bcm53134::Agent::CpuInterface::State> {
  static TypeDesc const& desc();
};
}  // namespace Kiv
