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

Orba::Node* handleIn(Kiv::Value const& v) {
  auto const* p = std::any_cast<Orba::Ptr<Orba::Node>>(&v.raw());
  return p ? p->get() : nullptr;
}

}  // namespace

Kiv::AttrDesc const* AgentObservation::CachedAttr::of(Orba::Node const& n,
                                                      std::string_view attrName) {
  if (n.typeData() != type) {
    type = n.typeData();
    attr = type ? type->attr(attrName) : nullptr;
  }
  return attr;
}

AgentObservation::AgentObservation(Orba::Ptr<Hardware::Bcm53134::Config> config,
                                   MetricFamilies& families, std::function<void()> changed)
    : config_(std::move(config)), families_(families), changed_(std::move(changed)) {
  previousEventObserver_ = Kiv::EventLoop::instance().eventObserverIs(this);
  previousTransactionObserver_ = Bcm53134::MdioRegLib::transactionObserverIs(this);
}

AgentObservation::~AgentObservation() {
  Kiv::EventLoop::instance().eventObserverIs(previousEventObserver_);
  Bcm53134::MdioRegLib::transactionObserverIs(previousTransactionObserver_);
}

void AgentObservation::rootIs(Orba::Node* root) {
  root_ = root;
  smAttr_ = root && root->typeData() ? root->typeData()->attr("bcm53134Sm") : nullptr;
  if (inCycle_ && !root)
    inCycle_ = false;  // torn down mid-cycle: that cycle never completes
}

void AgentObservation::afterEvent() {
  if (!root_ || !smAttr_)
    return;
  auto const smValue = smAttr_->get(*root_);
  Orba::Node* sm = handleIn(smValue);
  if (!sm)
    return;
  if (sm->typeData() != smType_) {
    smType_ = sm->typeData();
    stateAttr_ = smType_ ? smType_->attr("state") : nullptr;
    idle_ =
        stateAttr_ && stateAttr_->type ? Kiv::parseValue(stateAttr_->type, "idle") : Kiv::Value();
    cpuVerdictsRead(*sm);
  }
  if (!stateAttr_ || idle_.empty())
    return;
  auto const state = stateAttr_->get(*sm);
  bool const idle = state.type() == idle_.type() && idle_.type()->equal(state.raw(), idle_.raw());
  if (idle == !inCycle_)
    return;
  double const now = Kiv::System::currentTime();
  if (!idle) {
    inCycle_ = true;
    cycleStart_ = now;
    families_.cycles.Increment();
  } else {
    inCycle_ = false;
    families_.cyclesDone.Increment();
    families_.cycleSeconds.Observe(now - cycleStart_);
    cpuVerdictsRead(*sm);
  }
  // The cycle counters alone do not rewrite the textfile: they move every
  // cycle, and the steady cycle writes nothing.
}

// Reads, through the generic attribute interface, the state the manager
// keeps for each CPU netdevice of the appliance: disabled means the agent
// put it into protodown. Allocates only when the set of netdevices, their
// manager's type or a verdict changes.
void AgentObservation::cpuVerdictsRead(Orba::Node& sm) {
  auto const* mgrAttr = mgr_.of(sm, "cpuIfMgr");
  auto const mgrValue = mgrAttr && mgrAttr->get ? mgrAttr->get(sm) : Kiv::Value();
  Orba::Node* mgr = handleIn(mgrValue);
  auto const* coll = mgr ? collection_.of(*mgr, "cpuInterface") : nullptr;
  bool any = false;
  for (auto const& [key, m] : config_->mgmtInterfaces()) {
    std::string const& netdev = m->cpuIntfName();
    if (netdev.empty())
      continue;
    auto& k = netdevKeys_[netdev];
    if (k.empty())
      k = Kiv::Value::of(netdev);
    std::optional<bool> verdict;
    if (coll && coll->lookup) {
      auto const intfValue = coll->lookup(*mgr, k);
      if (Orba::Node* intf = handleIn(intfValue)) {
        auto const* stateAttr = state_.of(*intf, "state");
        if (stateAttr && stateAttr->get) {
          if (stateAttr->type != stateType_) {
            stateType_ = stateAttr->type;
            disabled_ = Kiv::parseValue(stateType_, "disabled");
            enabled_ = Kiv::parseValue(stateType_, "enabled");
          }
          auto const s = stateAttr->get(*intf);
          if (stateType_->equal(s.raw(), disabled_.raw()))
            verdict = true;
          else if (stateType_->equal(s.raw(), enabled_.raw()))
            verdict = false;
        }
      }
    }
    any = families_.verdictIs(netdev, verdict) || any;
  }
  if (any) {
    changed_();
    if (verdictsChanged_)
      verdictsChanged_();
  }
}

void AgentObservation::transaction(Bcm53134::MdioRegLib::Request const& request,
                                   Bcm53134::MdioRegLib::Result const& result) {
  using Request = Bcm53134::MdioRegLib::Request;
  if (!result.error.empty()) {
    families_.failed.Increment();
  } else if (request.op == Request::write) {
    families_.repaired(request.page, request.addr);
  } else if (root_) {
    // A read: judged by the record's own rule, as the agent judges it.
    try {
      std::string const record =
          "bcm53134Sm.registerVal[Bcm53134::Agent::RegisterId(page=" + hex(request.page) +
          ", addr=" + hex(request.addr) + ")].";
      auto mask = readAttr(resolvePath(*root_, record + "validityCheckMask"));
      auto val = readAttr(resolvePath(*root_, record + "validityCheckVal"));
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
