#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace Kiv {
using AttributeId = std::uint32_t;
}

namespace Orba {

class Publisher;

// One subscription. The owner keeps the slot; the callback receives the id of
// the changed attribute and a pointer to the key of the changed member (or
// null for a plain attribute). The slot unsubscribes itself when destroyed.
class SubscriberSlot {
 public:
  using Callback = std::function<void(Kiv::AttributeId, void const* key)>;

  SubscriberSlot() = default;
  explicit SubscriberSlot(Callback cb) : callback_(std::move(cb)) {}
  SubscriberSlot(SubscriberSlot const&) = delete;
  SubscriberSlot& operator=(SubscriberSlot const&) = delete;
  ~SubscriberSlot();

  void callbackIs(Callback cb) { callback_ = std::move(cb); }
  Publisher* publisher() const noexcept { return publisher_; }
  bool subscribed() const noexcept { return publisher_ != nullptr; }
  // Unsubscribes from whatever publisher the slot is on.
  void unsubscribe();

 private:
  friend class Publisher;
  Callback callback_;
  Publisher* publisher_ = nullptr;
};

// Announces attribute changes of one entity to its subscribers, in the order
// they subscribed. Subscribing and unsubscribing from inside a callback is
// safe: a slot removed during a notification is not called afterwards, a slot
// added during one is called from the next notification on (a nested one
// included). A callback may also destroy the publisher; the notification then
// ends. Notifying allocates nothing.
class Publisher {
 public:
  Publisher() = default;
  Publisher(Publisher const&) = delete;
  Publisher& operator=(Publisher const&) = delete;
  ~Publisher();

  void subscriberAdd(SubscriberSlot& slot);
  void subscriberRemove(SubscriberSlot& slot);
  std::size_t subscriberCount() const noexcept;

  void notify(Kiv::AttributeId id, void const* key = nullptr);

 private:
  std::vector<SubscriberSlot*> slots_;  // null: removed during a notification
  unsigned depth_ = 0;                  // notifications in progress
  bool removedDuringNotify_ = false;
  bool* destroyed_ = nullptr;  // set by the destructor; owned by the innermost notify
};

}  // namespace Orba
