#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Bcm53X/CpuIfMgr/TestCpuIfMgr.h"
#include "soak/ProtodownProbe.h"
#include "tests/support/Netns.h"

namespace TestSupport {
class SimAppliance;
}

namespace Soak {

// Where the management netdevices live and how their protodown state is
// read back.
class CpuSide {
 public:
  virtual ~CpuSide() = default;
  virtual std::string description() const = 0;
  // Called once the agent has been started, before its first link pass.
  virtual void attach(TestSupport::SimAppliance& app) = 0;
  // Called before the appliance goes: drops whatever refers into the agent.
  virtual void detach() {}
  // Whether the netdevice is held down; nothing when nothing has been done
  // to it yet.
  virtual std::optional<bool> down(std::string const& name) = 0;
  // The same read by an independent client, when there is one.
  virtual std::optional<bool> downCrossCheck(std::string const& /*name*/) { return std::nullopt; }
};

// The real thing: the agent's own netlink manager acting on macvlans mgmt1
// and mgmt2 (over a veth) in a private network namespace, read back with
// rtnetlink and, now and then, with iproute2.
class KernelCpuSide : public CpuSide {
 public:
  KernelCpuSide();
  std::string description() const override;
  void attach(TestSupport::SimAppliance& app) override;
  std::optional<bool> down(std::string const& name) override;
  std::optional<bool> downCrossCheck(std::string const& name) override;

 private:
  TestSupport::NetNamespace ns_;
  std::unique_ptr<ProtodownProbe> probe_;
};

// No netdevice: the simulated manager takes the netlink manager's place
// before the first link pass, and its interfaces' states stand for the
// netdevices.
class SimulatedCpuSide : public CpuSide {
 public:
  std::string description() const override;
  void attach(TestSupport::SimAppliance& app) override;
  void detach() override { mgr_ = nullptr; }
  std::optional<bool> down(std::string const& name) override;

 private:
  Orba::Ptr<Bcm53134::Agent::TestCpuIfMgr> mgr_;
};

}  // namespace Soak
