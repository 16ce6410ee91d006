#include "platform/orba/Publisher.h"

#include <algorithm>

namespace Orba {

SubscriberSlot::~SubscriberSlot() {
  unsubscribe();
}

void SubscriberSlot::unsubscribe() {
  if (publisher_)
    publisher_->subscriberRemove(*this);
}

Publisher::~Publisher() {
  for (auto* s : slots_) {
    if (s)
      s->publisher_ = nullptr;
  }
  if (destroyed_)
    *destroyed_ = true;
}

void Publisher::subscriberAdd(SubscriberSlot& slot) {
  if (slot.publisher_ == this)
    return;
  if (slot.publisher_)
    slot.publisher_->subscriberRemove(slot);
  slots_.push_back(&slot);
  slot.publisher_ = this;
}

void Publisher::subscriberRemove(SubscriberSlot& slot) {
  if (slot.publisher_ != this)
    return;
  slot.publisher_ = nullptr;
  auto it = std::find(slots_.begin(), slots_.end(), &slot);
  if (it == slots_.end())
    return;
  if (depth_ > 0) {
    // A notification is walking the list: leave a hole, compact afterwards.
    *it = nullptr;
    removedDuringNotify_ = true;
  } else {
    slots_.erase(it);
  }
}

std::size_t Publisher::subscriberCount() const noexcept {
  return static_cast<std::size_t>(
      std::count_if(slots_.begin(), slots_.end(), [](auto* s) { return s != nullptr; }));
}

void Publisher::notify(Kiv::AttributeId id, void const* key) {
  // One notification in progress. It ends the same way when a callback
  // throws, and touches nothing when a callback destroyed the publisher
  // (passing that news on to the notification it is nested in).
  struct Frame {
    explicit Frame(Publisher& p) : pub(p), outer(p.destroyed_) {
      pub.destroyed_ = &destroyed;
      ++pub.depth_;
    }
    ~Frame() {
      if (destroyed) {
        if (outer)
          *outer = true;
        return;
      }
      pub.destroyed_ = outer;
      if (--pub.depth_ == 0 && pub.removedDuringNotify_) {
        std::erase(pub.slots_, nullptr);
        pub.removedDuringNotify_ = false;
      }
    }
    Publisher& pub;
    bool* outer;
    bool destroyed = false;
  } frame(*this);

  // Slots added during this notification sit beyond n and wait for the next.
  std::size_t const n = slots_.size();
  for (std::size_t i = 0; i < n && !frame.destroyed; ++i) {
    SubscriberSlot* s = slots_[i];
    if (s && s->callback_)
      s->callback_(id, key);
  }
}

}  // namespace Orba
