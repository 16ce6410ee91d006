#include "platform/kiv/Clock.h"

#include <algorithm>
#include <optional>

#include "platform/kiv/AttrTable.h"

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

std::uint64_t Clock::pendingWakeups() const noexcept {
  return static_cast<std::uint64_t>(std::count_if(
      notifiees_.begin(), notifiees_.end(), [](auto const* n) { return n->wakeupPending(); }));
}

Seconds Clock::nextWakeup() const noexcept {
  std::optional<Seconds> first;
  for (auto const* n : notifiees_) {
    if (n->wakeupPending() && (!first || n->timeMin() < *first))
      first = n->timeMin();
  }
  return first.value_or(0);
}

TypeDesc const& Clock::typeDesc() {
  static TypeDesc const d = [] {
    TypeDesc t = entityType("Kiv::Clock");
    t.attrs = {readOnly<&Clock::now>(257, "now"), readOnly<&Clock::wakeups>(259, "wakeups"),
               readOnly<&Clock::lastWakeup>(260, "lastWakeup"),
               readOnly<&Clock::pendingWakeups>(261, "pendingWakeups"),
               readOnly<&Clock::nextWakeup>(262, "nextWakeup")};
    return t;
  }();
  return d;
}

AttributeId Clock::NotifieeConst::wakeupAttrId() {
  static AttributeId const id = typeDesc().attrId("timeMin");
  return id;
}

TypeDesc const& Clock::NotifieeConst::typeDesc() {
  static TypeDesc const d = [] {
    TypeDesc t = entityType("Kiv::Clock::NotifieeConst", &Kiv::NotifieeConst::typeDesc());
    t.attrs = {readOnly<&NotifieeConst::timeMin>(258, "timeMin")};
    return t;
  }();
  return d;
}

Clock::NotifieeConst::~NotifieeConst() {
  timer_.disarm();
  if (clock_)
    std::erase(clock_->notifiees_, this);
}

bool Clock::NotifieeConst::wakeupPending() const noexcept {
  return timer_.armed() && registered_ && clock_ && notificationActive() && !zombie();
}

void Clock::NotifieeConst::notifierIs(Orba::Ptr<Orba::Node const> const& n) {
  auto clock = Orba::Ptr<Clock const>(dynamic_cast<Clock const*>(n.get()));
  if (clock == clock_)
    return;
  if (clock_)
    std::erase(clock_->notifiees_, this);
  clock_ = clock;
  if (clock_)
    clock_->notifiees_.push_back(this);
  else
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

}  // namespace Kiv
