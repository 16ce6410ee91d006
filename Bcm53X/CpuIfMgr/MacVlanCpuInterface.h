#pragma once

#include <cstdint>

#include "Bcm53X/CpuIfMgr/CpuInterface.h"
#include "platform/kiv/Typed.h"

namespace Bcm53134::Agent {

// A CPU interface that is a real Linux netdevice (a macvlan device). Enabling
// clears the device's protodown flag and disabling sets it, each through one
// rtnetlink request (ProtodownOp). The state records the last verdict acted
// on, whatever the netlink outcome, so a repeated verdict sends nothing.
class MacVlanCpuInterface : public Kiv::Typed<MacVlanCpuInterface, CpuInterface> {
 public:
  static Orba::Ptr<MacVlanCpuInterface> MacVlanCpuInterfaceIs(Orba::String const& name);

  void enable() { act(State::enabled); }
  void disable() { act(State::disabled); }
  // One protodown operation with the value op (0 clears, 1 sets; any other
  // byte goes to the kernel unchanged). Returns the error text, empty on
  // success. Neither reads nor changes the state.
  Orba::String setProtodown(std::uint8_t op);

  static Kiv::TypeDesc const& typeDesc();

 protected:
  explicit MacVlanCpuInterface(Orba::String const& name) : Typed(name) {}
  ~MacVlanCpuInterface() override = default;

 private:
  bool carryOut(State to) override;
};

// A free-standing interface of that name, in no manager.
Orba::Ptr<MacVlanCpuInterface> macVlanCpuInterfaceFactory(Orba::String const& name);

}  // namespace Bcm53134::Agent
