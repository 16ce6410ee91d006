#pragma once

#include "Bcm53X/CpuIfMgr/CpuInterfaceMgr.h"
#include "Bcm53X/CpuIfMgr/MacVlanCpuInterface.h"

namespace Bcm53134::Agent {

// The manager of the real management netdevices.
class MacVlanCpuIfMgr final : public CpuInterfaceMgr<MacVlanCpuIfMgr, MacVlanCpuInterface,
                                                     &MacVlanCpuInterface::MacVlanCpuInterfaceIs> {
 public:
  static Orba::Ptr<MacVlanCpuIfMgr> MacVlanCpuIfMgrIs() {
    return Orba::Ptr<MacVlanCpuIfMgr>::adopt(new MacVlanCpuIfMgr());
  }
  static Kiv::TypeDesc const& typeDesc();

 private:
  MacVlanCpuIfMgr() = default;
  ~MacVlanCpuIfMgr() override = default;
};

}  // namespace Bcm53134::Agent
