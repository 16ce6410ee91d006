#include "host/keeper/ProtodownKeeper.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "platform/kiv/Clock.h"
#include "platform/kiv/Generic.h"

namespace Host {

namespace {

char const* onOff(bool on) {
  return on ? "on" : "off";
}

std::string hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

Kiv::Seconds now() {
  return Kiv::System::currentTime();
}

}  // namespace

ProtodownKeeper::ProtodownKeeper(std::function<void()> askKernel, Say say,
                                 std::function<void()> changed)
    : askKernel_(std::move(askKernel)), say_(std::move(say)), changed_(std::move(changed)) {
  Kiv::EventLoop::instance().eventObserverAdd(this);
}

ProtodownKeeper::~ProtodownKeeper() {
  Kiv::EventLoop::instance().eventObserverDel(this);
}

void ProtodownKeeper::rootIs(Orba::Node* root) {
  agent_.rootIs(root);
  inCycle_ = false;
  for (auto& [netdev, k] : kept_)
    k.phase = Phase::steady;  // a new agent acts for itself
}

void ProtodownKeeper::netdevsIs(std::map<std::string, std::string> const& interfaces) {
  std::erase_if(view_, [&](auto const& v) { return !interfaces.contains(v.first); });
  std::erase_if(kept_, [&](auto const& k) { return !interfaces.contains(k.first); });
  bool added = false;
  for (auto const& [netdev, intf] : interfaces) {
    added = kept_.try_emplace(netdev).second || added;
    view_[netdev].interface = intf;
  }
  publish();
  if (added)
    ask();  // what the kernel shows of the new ones
}

void ProtodownKeeper::kernelIs(std::string const& netdev, KernelLink const* link) {
  auto v = view_.find(netdev);
  if (v == view_.end())
    return;
  auto& k = kept_[netdev];
  auto const kernel = link ? std::optional<bool>(link->protodown) : std::nullopt;
  auto const reasons = link ? link->protodownReasons : 0;
  // What stood in the way may have gone: try again at once.
  if (kernel != v->second.kernel || reasons != v->second.reasons ||
      k.kind != (link ? link->kind : ""))
    k.nextTry = 0;
  v->second.kernel = kernel;
  v->second.reasons = reasons;
  k.kind = link ? link->kind : std::string();
  k.dirty = true;
  publish();
  evaluateSoon();
}

void ProtodownKeeper::kernelSynced() {
  awaitingSync_ = false;
  for (auto& [netdev, k] : kept_)
    k.dirty = true;
  evaluateSoon();
}

// Only between poll cycles, and never while a fresh view is on its way:
// within a cycle the agent may have acted and its notification not yet be
// read, so the kernel's word would be older than the verdict.
void ProtodownKeeper::evaluateSoon() {
  if (!inCycle_ && !awaitingSync_ && !posted_.armed())
    posted_.arm(now());
}

void ProtodownKeeper::evaluateDirty() {
  if (inCycle_ || awaitingSync_)
    return;
  for (auto& [netdev, k] : kept_) {
    if (k.dirty) {
      k.dirty = false;
      evaluate(netdev);
    }
  }
  armTimer();
  publish();
}

void ProtodownKeeper::afterEvent() {
  Orba::Node* sm = agent_.stateMachine();
  if (!sm)
    return;
  auto const idle = agent_.idle(*sm);
  if (!idle || *idle == !inCycle_)
    return;
  inCycle_ = !*idle;
  if (inCycle_) {
    for (auto& [netdev, k] : kept_) {
      if (k.phase == Phase::asked)
        k.phase = Phase::acting;
    }
    return;
  }
  cycleEnded();
}

// Reads the verdicts. When one changed, or the agent acted on a restore,
// the kernel is asked for a fresh view to judge by; otherwise what the
// kernel said during the cycle is judged now.
void ProtodownKeeper::cycleEnded() {
  bool askKernel = false;
  for (auto& [netdev, v] : view_) {
    auto const verdict = agent_.verdict(netdev);
    auto& k = kept_[netdev];
    if (verdict != v.verdict) {
      v.verdict = verdict;
      askKernel = true;
    }
    if (k.phase == Phase::acting)
      k.phase = verdict ? Phase::judging : Phase::asked;
    askKernel = askKernel || k.phase == Phase::judging;
  }
  if (askKernel) {
    publish();
    ask();
  } else {
    evaluateSoon();
  }
}

void ProtodownKeeper::ask() {
  awaitingSync_ = true;
  askKernel_();
}

void ProtodownKeeper::evaluate(std::string const& netdev) {
  auto& v = view_[netdev];
  auto& k = kept_[netdev];
  if (!v.verdict || !v.kernel || v.heldUntil > 0)
    return;  // nothing to follow, nothing to act on, or an operator's hold
  bool const agree = *v.kernel == *v.verdict;
  if (k.phase == Phase::judging) {
    judge(netdev, v, k, agree);
    return;
  }
  if (k.phase != Phase::steady)
    return;  // the agent has yet to act
  if (agree) {
    if (k.failures > 0) {
      // Whoever held it otherwise has let go.
      if (!v.trouble.empty())
        say_("protodown of " + netdev + " (" + v.interface + ") agrees with the agent's verdict (" +
             onOff(*v.verdict) + ") again");
      k.failures = 0;
      v.trouble.clear();
    }
    return;
  }
  if (now() >= k.nextTry)
    restore(netdev, v, k);
}

void ProtodownKeeper::restore(std::string const& netdev, ProtodownKeeping& v, Kept& k) {
  Orba::Node* mgr = agent_.cpuIfMgr();
  if (!mgr)
    return;
  k.shownOn = *v.kernel;
  try {
    Kiv::Generic::del(*mgr, "cpuInterface", Kiv::Value::of(netdev));
  } catch (std::exception const& e) {
    say_("protodown of " + netdev + " cannot be restored: the agent refused: " + e.what());
    return;
  }
  k.phase = Phase::asked;
}

void ProtodownKeeper::judge(std::string const& netdev, ProtodownKeeping& v, Kept& k, bool agree) {
  k.phase = Phase::steady;
  if (agree) {
    ++v.restores;
    say_("protodown restored on " + netdev + " (" + v.interface + "): the kernel showed " +
         onOff(k.shownOn) + ", the agent's verdict is " + onOff(*v.verdict) +
         (k.failures > 0 ? " (after " + std::to_string(k.failures + 1) + " tries)" : ""));
    k.failures = 0;
    k.nextTry = 0;
    v.trouble.clear();
    return;
  }
  ++k.failures;
  if (k.failures < 2) {
    k.nextTry = 0;  // once more at once
    evaluate(netdev);
    return;
  }
  Kiv::Seconds const wait =
      std::min(kBackoffMax, kBackoff * std::pow(2.0, static_cast<double>(k.failures - 2)));
  k.nextTry = now() + wait;
  std::string why = trouble(netdev, v, k);
  if (why != v.trouble) {
    v.trouble = why;
    say_("protodown of " + netdev + " (" + v.interface + ") cannot be restored: " + why +
         "; trying again at most once a minute");
  }
}

// Why the kernel does not show the agent's verdict, in its own terms.
std::string ProtodownKeeper::trouble(std::string const& netdev, ProtodownKeeping const& v,
                                     Kept const& k) const {
  std::string const kind = k.kind.empty() ? "a netdevice without a kind" : "a " + k.kind;
  if (*v.verdict) {
    return "the kernel keeps protodown off after the agent set it on (" + netdev + " is " + kind +
           "; a driver without protodown refuses it)";
  }
  if (v.reasons != 0) {
    return "the kernel keeps protodown on after the agent cleared it: other programs hold "
           "protodown reason bits " +
           hex(v.reasons) +
           ", and the kernel refuses to clear protodown while any is set (see ip link set " +
           netdev + " protodown_reason)";
  }
  return "the kernel keeps protodown on after the agent cleared it (" + netdev + " is " + kind +
         ")";
}

void ProtodownKeeper::holdIs(std::string const& netdev, Kiv::Seconds until) {
  auto v = view_.find(netdev);
  if (v == view_.end())
    throw std::invalid_argument(netdev + " is no CPU netdevice of this appliance");
  Kiv::Seconds const t = now();
  if (until - t > kHoldMax)
    throw std::invalid_argument("a hold lasts at most " + std::to_string(int(kHoldMax / 3600)) +
                                " hours");
  bool const held = v->second.heldUntil > 0;
  if (until <= t) {
    if (!held)
      return;
    v->second.heldUntil = 0;
    say_("hold on " + netdev + " (" + v->second.interface +
         ") released: its protodown follows the agent's verdict again");
  } else {
    v->second.heldUntil = until;
    char secs[32];
    std::snprintf(secs, sizeof secs, "%.0f", until - t);
    say_("protodown of " + netdev + " (" + v->second.interface + ") held by hand for " + secs +
         " s: the host leaves it as it is until then");
  }
  kept_[netdev].phase = Phase::steady;
  armTimer();
  publish();
  if (!held || until > t)
    return;
  ask();  // judged on the kernel's view as it is now
}

// The next back-off or hold that ends (a try that is due now is the
// evaluation's, never the timer's).
void ProtodownKeeper::armTimer() {
  Kiv::Seconds const t = now();
  Kiv::Seconds next = INFINITY;
  for (auto const& [netdev, v] : view_) {
    auto const& k = kept_.at(netdev);
    if (v.heldUntil > 0)
      next = std::min(next, v.heldUntil);
    else if (k.nextTry > t && v.kernel && v.verdict && *v.kernel != *v.verdict)
      next = std::min(next, k.nextTry);
  }
  if (std::isinf(next))
    timer_.disarm();
  else if (!timer_.armed() || timer_.due() != next)
    timer_.arm(next);
}

void ProtodownKeeper::due() {
  Kiv::Seconds const t = now();
  for (auto& [netdev, v] : view_) {
    if (v.heldUntil > 0 && v.heldUntil <= t) {
      v.heldUntil = 0;
      say_("hold on " + netdev + " (" + v.interface +
           ") ended: its protodown follows the agent's verdict again");
    }
  }
  publish();
  armTimer();
  ask();  // a netdevice that is down tells no change: ask
}

void ProtodownKeeper::publish() {
  if (view_ == published_)
    return;
  published_ = view_;
  changed_();
}

}  // namespace Host
