#include "platform/kiv/Clock.h"

namespace Kiv {

Orba::Ptr<Clock> Clock::ClockIs() {
  return Orba::Ptr<Clock>::adopt(new Clock());
}

Seconds Clock::now() const {
  return EventLoop::instance().now();
}

void Clock::wakeupDelivered() const {
  ++wakeups_;
  lastWakeup_ = now();
}

TypeDesc const& Clock::typeDesc() {
  static TypeDesc const d = [] {
    TypeDesc t = entityType("Kiv::Clock");
    AttrDesc now;
    now.id = 257;
    now.name = "now";
    now.type = &TypeOf<double>::desc();
    now.get = [](Orba::Node const& n) { return Value::of(self<Clock>(n).now()); };
    t.attrs.push_back(now);
    AttrDesc wakeups;
    wakeups.id = 259;
    wakeups.name = "wakeups";
    wakeups.type = &TypeOf<std::uint64_t>::desc();
    wakeups.get = [](Orba::Node const& n) { return Value::of(self<Clock>(n).wakeups()); };
    t.attrs.push_back(wakeups);
    AttrDesc lastWakeup;
    lastWakeup.id = 260;
    lastWakeup.name = "lastWakeup";
    lastWakeup.type = &TypeOf<double>::desc();
    lastWakeup.get = [](Orba::Node const& n) { return Value::of(self<Clock>(n).lastWakeup()); };
    t.attrs.push_back(lastWakeup);
    return t;
  }();
  return d;
}
TypeDesc const* Clock::typeData() const {
  return &typeDesc();
}

AttributeId Clock::NotifieeConst::wakeupAttrId() {
  static AttributeId const id = typeDesc().attrId("timeMin");
  return id;
}

TypeDesc const& Clock::NotifieeConst::typeDesc() {
  static TypeDesc const d = [] {
    TypeDesc t = entityType("Kiv::Clock::NotifieeConst", &Kiv::NotifieeConst::typeDesc());
    AttrDesc timeMin;
    timeMin.id = 258;
    timeMin.name = "timeMin";
    timeMin.type = &TypeOf<double>::desc();
    timeMin.get = [](Orba::Node const& n) { return Value::of(self<NotifieeConst>(n).timeMin()); };
    t.attrs.push_back(timeMin);
    return t;
  }();
  return d;
}
TypeDesc const* Clock::NotifieeConst::typeData() const {
  return &typeDesc();
}

Clock::NotifieeConst::~NotifieeConst() {
  timer_.disarm();
}

void Clock::NotifieeConst::notifierIs(Orba::Ptr<Orba::Node const> const& n) {
  auto clock = Orba::Ptr<Clock const>(dynamic_cast<Clock const*>(n.get()));
  if (clock == clock_)
    return;
  clock_ = clock;
  if (!clock_)
    timer_.disarm();
}

void Clock::NotifieeConst::timeMinIs(Seconds t) {
  if (!clock_)
    return;
  timer_.arm(t);
}

void Clock::NotifieeConst::isRegisteredNotifieeIs(bool on) {
  registered_ = on;
  if (!on)
    timer_.disarm();
}

void Clock::NotifieeConst::WakeTimer::onTimer() {
  // Keep the notifiee alive while it handles its own wake-up.
  Orba::Ptr<NotifieeConst> hold(&owner);
  if (owner.registered_ && owner.clock_ && owner.notificationActive() && !owner.zombie()) {
    owner.clock_->wakeupDelivered();
    owner.onAttribute(wakeupAttrId(), nullptr);
  }
}

Orba::Ptr<Clock const> ActivityFacility::clock() {
  static Orba::Ptr<Clock const> const c = Clock::ClockIs();
  return c;
}

Seconds System::currentTime() {
  return EventLoop::instance().now();
}

TypeDesc const& NotifieeConst::typeDesc() {
  static TypeDesc const d = entityType("Kiv::NotifieeConst");
  return d;
}
TypeDesc const* NotifieeConst::typeData() const {
  return &typeDesc();
}

}  // namespace Kiv
