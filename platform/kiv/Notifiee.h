#pragma once

#include "platform/kiv/Type.h"
#include "platform/kiv/Typed.h"
#include "platform/orba/Node.h"

namespace Kiv {

// Base of a reactor that is bound to one notifier and receives its attribute
// notifications through onAttribute. Notifications are delivered only while
// the notifiee's notification-active flag is set and its zombie flag clear.
class NotifieeConst : public Typed<NotifieeConst> {
 public:
  virtual void notifierIs(Orba::Ptr<Orba::Node const> const& notifier) = 0;
  virtual void onAttribute(AttributeId /*id*/, void const* /*key*/) {}
  // Idempotent.
  virtual void hasNotificationActiveIs(bool on) { notificationActiveFlagIs(on); }
  virtual void kivDoZombieReactors(bool on) { zombieFlagIs(on); }
  static TypeDesc const& typeDesc();
};

}  // namespace Kiv
