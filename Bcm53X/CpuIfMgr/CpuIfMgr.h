#pragma once

#include "platform/kiv/Type.h"
#include "platform/kiv/Typed.h"
#include "platform/orba/Node.h"

namespace Bcm53134::Agent {

// A CPU interface manager: told by interface name to enable or disable a
// management netdevice. Neither operation fails towards the caller; what goes
// wrong is traced by the interface concerned.
class CpuIfMgr : public Kiv::Typed<CpuIfMgr> {
 public:
  static Kiv::TypeDesc const& typeDesc();

  virtual void enable(Orba::String const& name) = 0;
  virtual void disable(Orba::String const& name) = 0;

 protected:
  CpuIfMgr() = default;
  ~CpuIfMgr() override = default;
};

}  // namespace Bcm53134::Agent
