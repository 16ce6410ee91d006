#pragma once

#include <functional>
#include <map>
#include <string>

#include "host/attr/AgentView.h"
#include "host/show/metrics/MetricFamilies.h"
#include "platform/kiv/EventLoop.h"
#include "platform/mdio/MdioRegLib.h"

namespace Host {

// What the metrics learn from watching the agent run, through the two
// observation points the platform offers: after every event of the loop,
// the state machine's `state` (cycles begun and completed, their duration,
// and at the end of each the CPU interface manager's verdict per CPU
// netdevice), and every register transaction with its result (failures,
// implausible reads, writes). All of it is read through the generic
// attribute interface; descriptors and keys are cached, so a steady cycle
// allocates nothing. `changed` hears every change but the cycle counters'.
class AgentObservation : public Kiv::EventObserver,
                         public Bcm53134::MdioRegLib::TransactionObserver {
 public:
  AgentObservation(Orba::Ptr<Hardware::Bcm53134::Config> config, MetricFamilies& families,
                   std::function<void()> changed);
  ~AgentObservation();
  AgentObservation(AgentObservation const&) = delete;
  AgentObservation& operator=(AgentObservation const&) = delete;

  // The agent's root, or null when it is gone.
  void rootIs(Orba::Node* root);

  void afterEvent() override;
  void transaction(Bcm53134::MdioRegLib::Request const& request,
                   Bcm53134::MdioRegLib::Result const& result) override;

 private:
  void cpuVerdictsRead();

  Orba::Ptr<Hardware::Bcm53134::Config> config_;
  MetricFamilies& families_;
  std::function<void()> changed_;
  AgentView agent_;
  Kiv::TypeDesc const* smType_ = nullptr;
  bool inCycle_ = false;
  double cycleStart_ = 0;
  Bcm53134::MdioRegLib::TransactionObserver* previousTransactionObserver_ = nullptr;
};

}  // namespace Host
