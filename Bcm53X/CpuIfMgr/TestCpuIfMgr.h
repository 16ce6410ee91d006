#pragma once

#include "Bcm53X/CpuIfMgr/CpuInterfaceMgr.h"
#include "Bcm53X/CpuIfMgr/TestCpuInterface.h"

namespace Bcm53134::Agent {

// A simulated manager: the same per-name model as the netlink manager, over
// interfaces that touch no netdevice and fail on demand (simFail). It can
// take the netlink manager's place in the switch state machine, and is made
// by type name through the generic interface.
class TestCpuIfMgr final : public CpuInterfaceMgr<TestCpuIfMgr, TestCpuInterface,
                                                  &TestCpuInterface::TestCpuInterfaceIs> {
 public:
  static Orba::Ptr<TestCpuIfMgr> TestCpuIfMgrIs() {
    return Orba::Ptr<TestCpuIfMgr>::adopt(new TestCpuIfMgr());
  }
  static Kiv::TypeDesc const& typeDesc();

 private:
  TestCpuIfMgr() = default;
  ~TestCpuIfMgr() override = default;
};

// A new, empty simulated manager.
inline Orba::Ptr<TestCpuIfMgr> testCpuIfMgrFactory() {
  return TestCpuIfMgr::TestCpuIfMgrIs();
}

}  // namespace Bcm53134::Agent
