#pragma once

#include <cstdint>
#include <vector>

#include "platform/kiv/EventLoop.h"
#include "platform/kiv/Notifiee.h"
#include "platform/kiv/Type.h"
#include "platform/kiv/Typed.h"

namespace Kiv {

// A clock: the event loop's time as an entity that notifiees bind to.
class Clock : public Typed<Clock> {
 public:
  static Orba::Ptr<Clock> ClockIs();
  Seconds now() const;
  // The wake-ups this clock has delivered to its notifiees, and the time of
  // the latest: what shows from outside that the work the clock drives goes
  // on (a host's watchdog reads them).
  std::uint64_t wakeups() const noexcept { return wakeups_; }
  Seconds lastWakeup() const noexcept { return lastWakeup_; }
  // The wake-ups its notifiees have asked for and will receive, and the
  // earliest of them (0 when none is pending): when the work the clock
  // drives falls due next.
  std::uint64_t pendingWakeups() const noexcept;
  Seconds nextWakeup() const noexcept;
  static TypeDesc const& typeDesc();

  // A clock notifiee asks for one wake-up at a time (timeMinIs); at that time
  // it receives onAttribute(wakeup id) through the event loop. A new request
  // replaces the pending one.
  class NotifieeConst : public Typed<NotifieeConst, Kiv::NotifieeConst> {
   public:
    // The wake-up attribute.
    static AttributeId wakeupAttrId();

    Orba::Ptr<Clock const> notifier() const { return clock_; }
    // Takes the node as a Clock (another type counts as none) and watches it.
    void notifierIs(Orba::Ptr<Orba::Node const> const& n) override;

    Seconds timeMin() const noexcept { return timer_.due(); }
    bool armed() const noexcept { return timer_.armed(); }
    // Armed, and in a state to receive the wake-up when it falls due.
    bool wakeupPending() const noexcept;
    // Asks for a wake-up at t (at once when t is not in the future).
    void timeMinIs(Seconds t);
    bool isRegisteredNotifiee() const noexcept { return registered_; }
    virtual void isRegisteredNotifieeIs(bool on);
    virtual void onZeroReferences() {}

    static TypeDesc const& typeDesc();

   protected:
    NotifieeConst() : timer_(*this) {}
    ~NotifieeConst() override;

   private:
    struct WakeTimer : Timer {
      explicit WakeTimer(NotifieeConst& n) : owner(n) {}
      void onTimer() override;
      NotifieeConst& owner;
    };
    Orba::Ptr<Clock const> clock_;
    WakeTimer timer_;
    bool registered_ = false;
  };

 private:
  Clock() = default;
  void wakeupDelivered() const;
  // The notifiees bound to this clock; each enters and leaves in notifierIs
  // and its destructor.
  mutable std::vector<NotifieeConst const*> notifiees_;
  mutable std::uint64_t wakeups_ = 0;
  mutable Seconds lastWakeup_ = 0;
};

// The agent's activity clock, one per process.
struct ActivityFacility {
  static Orba::Ptr<Clock const> clock();
};

struct System {
  // Now, in seconds, from the event loop.
  static Seconds currentTime();
};

}  // namespace Kiv
