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

namespace {

// A read-only attribute of the clock, read through one of its accessors.
template <class T, T (Clock::*get)() const>
AttrDesc reading(AttributeId id, char const* name) {
  return {.id = id, .name = name, .type = &TypeOf<T>::desc(), .get = [](Orba::Node const& n) {
            return Value::of((self<Clock>(n).*get)());
          }};
}

}  // namespace

TypeDesc const& Clock::typeDesc() {
  static TypeDesc const d = [] {
    TypeDesc t = entityType("Kiv::Clock");
    t.attrs.push_back(reading<double, &Clock::now>(257, "now"));
    t.attrs.push_back(reading<std::uint64_t, &Clock::wakeups>(259, "wakeups"));
    t.attrs.push_back(reading<double, &Clock::lastWakeup>(260, "lastWakeup"));
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
