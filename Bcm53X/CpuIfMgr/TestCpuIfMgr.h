#pragma once

#include <vector>

#include "Bcm53X/CpuIfMgr/CpuIfMgr.h"
#include "Bcm53X/CpuIfMgr/CpuInterfaceCollection.h"
#include "Bcm53X/CpuIfMgr/TestCpuInterface.h"

namespace Bcm53134::Agent {

// A simulated manager: the same per-name model as the netlink manager, over
// interfaces that touch no netdevice and fail on demand (simFail). It can
// take the netlink manager's place in the switch state machine.
class TestCpuIfMgr : public CpuIfMgr {
 public:
  static Orba::Ptr<TestCpuIfMgr> TestCpuIfMgrIs();

  Orba::Ptr<TestCpuInterface> cpuInterface(Orba::String const& name) const {
    return cpuInterface_.member(name);
  }
  std::size_t cpuInterfaceCount() const noexcept { return cpuInterface_.size(); }
  // The interfaces in name order.
  std::vector<Orba::Ptr<TestCpuInterface>> cpuInterfaceByName() const {
    return cpuInterface_.membersByName();
  }
  // Find or create; never null.
  Orba::Ptr<TestCpuInterface> cpuInterfaceIs(Orba::String const& name);
  // Removes and returns the interface of that name (null when absent).
  Orba::Ptr<TestCpuInterface> cpuInterfaceDel(Orba::String const& name);
  void cpuInterfaceDelAll();

  void enable(Orba::String const& name) override;
  void disable(Orba::String const& name) override;

  Kiv::TypeDesc const* typeData() const override;
  static Kiv::TypeDesc const& typeDesc();

 protected:
  TestCpuIfMgr() = default;
  ~TestCpuIfMgr() override;

 private:
  CpuInterfaceCollection<TestCpuInterface> cpuInterface_;
};

// A new, empty simulated manager.
Orba::Ptr<TestCpuIfMgr> testCpuIfMgrFactory();

}  // namespace Bcm53134::Agent
