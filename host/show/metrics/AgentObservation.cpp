#include "host/show/metrics/AgentObservation.h"

#include <prometheus/counter.h>
#include <prometheus/histogram.h>

#include <cstdio>

#include "host/attr/AttrPath.h"
#include "platform/kiv/Clock.h"
#include "platform/kiv/Generic.h"

namespace Host {

namespace {

std::string hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

}  // namespace

AgentObservation::AgentObservation(Orba::Ptr<Hardware::Bcm53134::Config> config,
                                   MetricFamilies& families, std::function<void()> changed)
    : config_(std::move(config)), families_(families), changed_(std::move(changed)) {
  Kiv::EventLoop::instance().eventObserverAdd(this);
  previousTransactionObserver_ = Bcm53134::MdioRegLib::transactionObserverIs(this);
}

AgentObservation::~AgentObservation() {
  Kiv::EventLoop::instance().eventObserverDel(this);
  Bcm53134::MdioRegLib::transactionObserverIs(previousTransactionObserver_);
}

void AgentObservation::rootIs(Orba::Node* root) {
  agent_.rootIs(root);
  if (inCycle_ && !root)
    inCycle_ = false;  // torn down mid-cycle: that cycle never completes
}

void AgentObservation::afterEvent() {
  Orba::Node* sm = agent_.stateMachine();
  if (!sm)
    return;
  if (sm->typeData() != smType_) {
    smType_ = sm->typeData();
    cpuVerdictsRead();
  }
  auto const idle = agent_.idle(*sm);
  if (!idle || *idle == !inCycle_)
    return;
  double const now = Kiv::System::currentTime();
  if (!*idle) {
    inCycle_ = true;
    cycleStart_ = now;
    families_.cycles.Increment();
  } else {
    inCycle_ = false;
    families_.cyclesDone.Increment();
    families_.cycleSeconds.Observe(now - cycleStart_);
    cpuVerdictsRead();
  }
  // The cycle counters alone do not rewrite the textfile: they move every
  // cycle, and the steady cycle writes nothing.
}

// Reads, through the generic attribute interface, the state the manager
// keeps for each CPU netdevice of the appliance: disabled means the agent
// put it into protodown. Allocates only when the set of netdevices, their
// manager's type or a verdict changes.
void AgentObservation::cpuVerdictsRead() {
  bool any = false;
  for (auto const& [key, m] : config_->mgmtInterfaces()) {
    std::string const& netdev = m->cpuIntfName();
    if (!netdev.empty())
      any = families_.verdictIs(netdev, agent_.verdict(netdev)) || any;
  }
  if (any)
    changed_();
}

void AgentObservation::transaction(Bcm53134::MdioRegLib::Request const& request,
                                   Bcm53134::MdioRegLib::Result const& result) {
  using Request = Bcm53134::MdioRegLib::Request;
  if (!result.error.empty()) {
    families_.failed.Increment();
  } else if (request.op == Request::write) {
    families_.repaired(request.page, request.addr);
  } else if (agent_.root()) {
    // A read: judged by the record's own rule, as the agent judges it.
    try {
      std::string const record =
          "bcm53134Sm.registerVal[Bcm53134::Agent::RegisterId(page=" + hex(request.page) +
          ", addr=" + hex(request.addr) + ")].";
      auto mask = readAttr(resolvePath(*agent_.root(), record + "validityCheckMask"));
      auto val = readAttr(resolvePath(*agent_.root(), record + "validityCheckVal"));
      auto const v = static_cast<std::uint32_t>(result.value);
      if ((v & mask.as<std::uint32_t>()) != val.as<std::uint32_t>())
        families_.implausible.Increment();
    } catch (Kiv::AttributeError const&) {
      return;  // no record for it (any more): nothing to judge it by
    }
  } else {
    return;
  }
  changed_();
}

}  // namespace Host
