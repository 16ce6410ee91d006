#include "Bcm53X/CpuIfMgr/TestCpuInterface.h"

#include "Bcm53X/CpuIfMgr/CpuIfMgrTrace.h"

namespace Bcm53134::Agent {

Orba::Ptr<TestCpuInterface> TestCpuInterface::TestCpuInterfaceIs(Orba::String const& name) {
  return Orba::Ptr<TestCpuInterface>::adopt(new TestCpuInterface(name));
}

void TestCpuInterface::enable() {
  auto& th = cpuIfMgrTrace();
  if (state() == State::enabled) {
    KIV_TRACE(th, 8) << static_cast<void const*>(this) << "::"
                     << "enable"
                     << ": interface " << name() << " already enabled";
    return;
  }
  KIV_TRACE(th, 1) << static_cast<void const*>(this) << "::"
                   << "enable"
                   << ": enabling interface " << name();
  if (simFail_) {
    KIV_TRACE(th, 0) << static_cast<void const*>(this) << "::"
                     << "enable"
                     << ": setting interface " << name() << " to unknown due to enable sim failure";
    stateIs(State::unknown);
    return;
  }
  KIV_TRACE(th, 0) << static_cast<void const*>(this) << "::"
                   << "enable"
                   << ": interface " << name() << " enabled";
  stateIs(State::enabled);
}

void TestCpuInterface::disable() {
  auto& th = cpuIfMgrTrace();
  if (state() == State::disabled) {
    KIV_TRACE(th, 8) << static_cast<void const*>(this) << "::"
                     << "disable"
                     << ": interface " << name() << " already disabled";
    return;
  }
  KIV_TRACE(th, 1) << static_cast<void const*>(this) << "::"
                   << "disable"
                   << ": disabling interface " << name();
  if (simFail_) {
    KIV_TRACE(th, 0) << static_cast<void const*>(this) << "::"
                     << "disable"
                     << ": setting interface " << name()
                     << " to unknown due to disable sim failure";
    stateIs(State::unknown);
    return;
  }
  KIV_TRACE(th, 0) << static_cast<void const*>(this) << "::"
                   << "disable"
                   << ": interface " << name() << " disabled";
  stateIs(State::disabled);
}

}  // namespace Bcm53134::Agent
