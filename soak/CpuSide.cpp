#include "soak/CpuSide.h"

#include "tests/support/SimAppliance.h"

namespace Soak {

KernelCpuSide::KernelCpuSide() {
  ns_.ip("link add v0 type veth peer name v1");
  ns_.ip("link add link v0 name mgmt1 type macvlan mode bridge");
  ns_.ip("link add link v0 name mgmt2 type macvlan mode bridge");
  for (char const* dev : {"v0", "v1", "mgmt1", "mgmt2"})
    ns_.ip(std::string("link set ") + dev + " up");
  probe_ = std::make_unique<ProtodownProbe>();
}

std::string KernelCpuSide::description() const {
  return "macvlans mgmt1 and mgmt2 in private network namespace " + ns_.name() +
         ", driven by the agent's netlink manager";
}

void KernelCpuSide::attach(TestSupport::SimAppliance&) {}

std::optional<bool> KernelCpuSide::down(std::string const& name) {
  return probe_->protodown(name);
}

std::optional<bool> KernelCpuSide::downCrossCheck(std::string const& name) {
  return ns_.protodown(name);
}

std::string SimulatedCpuSide::description() const {
  return "simulated by the agent's TestCpuIfMgr (no network namespace)";
}

void SimulatedCpuSide::attach(TestSupport::SimAppliance& app) {
  mgr_ = app.useTestCpuIfMgr();
}

std::optional<bool> SimulatedCpuSide::down(std::string const& name) {
  using CpuState = Bcm53134::Agent::CpuInterface::State;
  auto intf = mgr_->cpuInterface(name);
  if (!intf || intf->state() == CpuState::unknown)
    return std::nullopt;
  return intf->state() == CpuState::disabled;
}

}  // namespace Soak
