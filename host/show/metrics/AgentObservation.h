#pragma once

#include <functional>
#include <map>
#include <string>

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
  // Hears that a verdict on a CPU netdevice changed (after `changed`).
  void verdictsChangedIs(std::function<void()> f) { verdictsChanged_ = std::move(f); }
  ~AgentObservation();
  AgentObservation(AgentObservation const&) = delete;
  AgentObservation& operator=(AgentObservation const&) = delete;

  // The agent's root, or null when it is gone.
  void rootIs(Orba::Node* root);

  void afterEvent() override;
  void transaction(Bcm53134::MdioRegLib::Request const& request,
                   Bcm53134::MdioRegLib::Result const& result) override;

 private:
  // The descriptor of an attribute of a node's type, looked up again only
  // when the node's type changes.
  struct CachedAttr {
    Kiv::TypeDesc const* type = nullptr;
    Kiv::AttrDesc const* attr = nullptr;
    Kiv::AttrDesc const* of(Orba::Node const& n, std::string_view attrName);
  };
  void cpuVerdictsRead(Orba::Node& sm);

  Orba::Ptr<Hardware::Bcm53134::Config> config_;
  MetricFamilies& families_;
  std::function<void()> changed_;
  std::function<void()> verdictsChanged_;
  Orba::Node* root_ = nullptr;
  Kiv::AttrDesc const* smAttr_ = nullptr;  // the root's bcm53134Sm
  Kiv::TypeDesc const* smType_ = nullptr;
  Kiv::AttrDesc const* stateAttr_ = nullptr;
  Kiv::Value idle_;  // the state machine's idle state
  bool inCycle_ = false;
  double cycleStart_ = 0;
  // The CPU interface manager's collection and its entries' state.
  CachedAttr mgr_, collection_, state_;
  Kiv::Value disabled_, enabled_;  // of the interface state's type
  Kiv::TypeDesc const* stateType_ = nullptr;
  std::map<std::string, Kiv::Value> netdevKeys_;  // as the collection takes them
  Kiv::EventObserver* previousEventObserver_ = nullptr;
  Bcm53134::MdioRegLib::TransactionObserver* previousTransactionObserver_ = nullptr;
};

}  // namespace Host
