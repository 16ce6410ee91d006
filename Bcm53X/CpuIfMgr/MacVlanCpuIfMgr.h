#pragma once

#include <vector>

#include "Bcm53X/CpuIfMgr/CpuIfMgr.h"
#include "Bcm53X/CpuIfMgr/CpuInterfaceCollection.h"
#include "Bcm53X/CpuIfMgr/MacVlanCpuInterface.h"

namespace Bcm53134::Agent {

// The manager of the real management netdevices. An interface name seen once
// stays known, with its last state, for the manager's life; destroying the
// manager touches no netdevice.
class MacVlanCpuIfMgr : public CpuIfMgr {
 public:
  static Orba::Ptr<MacVlanCpuIfMgr> MacVlanCpuIfMgrIs();

  Orba::Ptr<MacVlanCpuInterface> cpuInterface(Orba::String const& name) const {
    return cpuInterface_.member(name);
  }
  std::size_t cpuInterfaceCount() const noexcept { return cpuInterface_.size(); }
  // The interfaces in name order.
  std::vector<Orba::Ptr<MacVlanCpuInterface>> cpuInterfaceByName() const {
    return cpuInterface_.membersByName();
  }
  // Find or create; never null.
  Orba::Ptr<MacVlanCpuInterface> cpuInterfaceIs(Orba::String const& name);
  // Removes and returns the interface of that name (null when absent).
  Orba::Ptr<MacVlanCpuInterface> cpuInterfaceDel(Orba::String const& name);
  void cpuInterfaceDelAll();

  void enable(Orba::String const& name) override;
  void disable(Orba::String const& name) override;

  Kiv::TypeDesc const* typeData() const override;
  static Kiv::TypeDesc const& typeDesc();

 protected:
  MacVlanCpuIfMgr() = default;
  ~MacVlanCpuIfMgr() override;

 private:
  CpuInterfaceCollection<MacVlanCpuInterface> cpuInterface_;
};

}  // namespace Bcm53134::Agent
