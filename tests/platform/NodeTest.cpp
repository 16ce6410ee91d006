#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/kiv/Dir.h"
#include "platform/kiv/Errors.h"
#include "platform/orba/Node.h"
#include "platform/orba/Publisher.h"

namespace {

using ::testing::ElementsAre;

// A node that takes and drops a handle to itself while it is being built,
// as a state machine does when it hands itself to its reactors.
class SelfRef : public Orba::Node {
 public:
  SelfRef() {
    Orba::Ptr<SelfRef> me(this);
    seenInside = me->references();
  }
  std::uint32_t seenInside = 0;
};

// A node whose Left subobject does not sit at the object's own address.
struct Left : Orba::Node {};
struct Extra {
  virtual ~Extra() = default;
  int pad = 0;
};
struct Multi : Extra, Left {};

TEST(PtrTest, OwnershipIdentityAndLiveCount) {
  auto const base = Orba::Node::liveCount();
  {
    auto a = Orba::make<SelfRef>();
    EXPECT_EQ(a->seenInside, 2u);
    EXPECT_EQ(a->references(), 1u);  // the constructor's handle is gone, the node is not
    EXPECT_EQ(Orba::Node::liveCount(), base + 1);

    auto adopted = Orba::Ptr<SelfRef>::adopt(Orba::Ptr<SelfRef>(a.get()).release());
    EXPECT_EQ(a->references(), 2u);  // the released reference is taken over, not added to
    adopted = nullptr;
    EXPECT_EQ(a->references(), 1u);

    // Identity, across the base classes of one object and through const.
    auto m = Orba::make<Multi>();
    Orba::Ptr<Left> asLeft = m;
    Orba::Ptr<Orba::Node const> asNode = m;
    Orba::Ptr<Left const> none;
    EXPECT_TRUE(asLeft == m);
    EXPECT_TRUE(m == asNode);
    EXPECT_TRUE(asNode != a);
    EXPECT_TRUE(none == nullptr);
    Orba::Ptr<Orba::Node> plain = m;
    EXPECT_EQ(Orba::ptrCast<Multi>(plain), m);
    EXPECT_FALSE(Orba::ptrCast<SelfRef>(plain));
    EXPECT_EQ(Orba::Node::liveCount(), base + 2);
  }
  EXPECT_EQ(Orba::Node::liveCount(), base);
}

// Records every callback as "slot:id".
struct Recorder {
  std::vector<std::string> calls;
  Orba::SubscriberSlot::Callback cb(std::string name, std::function<void()> then = {}) {
    return [this, name, then](Kiv::AttributeId id, void const*) {
      calls.push_back(name + ":" + std::to_string(id));
      if (then)
        then();
    };
  }
};

TEST(PublisherTest, SubscribersChangingDuringANotification) {
  Orba::Publisher pub;
  Recorder r;
  Orba::SubscriberSlot a, b, c, d, late;
  a.callbackIs(r.cb("a", [&] { a.unsubscribe(); }));  // removes itself
  b.callbackIs(r.cb("b", [&] {
    pub.subscriberRemove(d);
    pub.subscriberAdd(late);
  }));
  c.callbackIs(r.cb("c"));
  d.callbackIs(r.cb("d"));
  late.callbackIs(r.cb("late"));
  for (auto* s : {&a, &b, &c, &d})
    pub.subscriberAdd(*s);
  pub.subscriberAdd(c);  // twice on the same publisher is once
  EXPECT_EQ(pub.subscriberCount(), 4u);

  pub.notify(1);
  EXPECT_THAT(r.calls, ElementsAre("a:1", "b:1", "c:1"));  // not d, not late yet
  EXPECT_FALSE(a.subscribed());
  EXPECT_EQ(pub.subscriberCount(), 3u);

  r.calls.clear();
  b.callbackIs(r.cb("b"));
  pub.notify(2);
  EXPECT_THAT(r.calls, ElementsAre("b:2", "c:2", "late:2"));

  // A slot that goes away while subscribed is simply no longer called.
  r.calls.clear();
  {
    Orba::SubscriberSlot temp(r.cb("temp"));
    pub.subscriberAdd(temp);
  }
  pub.notify(3);
  EXPECT_THAT(r.calls, ElementsAre("b:3", "c:3", "late:3"));
}

TEST(PublisherTest, NestedNotificationsAndPublisherLifetime) {
  auto pub = std::make_unique<Orba::Publisher>();
  Recorder r;
  Orba::SubscriberSlot a, b, c;
  a.callbackIs(r.cb("a", [&] {
    if (r.calls.size() == 1)
      pub->notify(2);
  }));
  b.callbackIs(r.cb("b", [&] {
    if (r.calls.size() == 3)
      pub->subscriberRemove(c);  // inside the nested one
  }));
  c.callbackIs(r.cb("c"));
  for (auto* s : {&a, &b, &c})
    pub->subscriberAdd(*s);
  pub->notify(1);
  // The nested notification runs to the end before the outer one goes on; c
  // removed inside it is not called by the outer one either.
  EXPECT_THAT(r.calls, ElementsAre("a:1", "a:2", "b:2", "b:1"));
  EXPECT_EQ(pub->subscriberCount(), 2u);

  // Moving a slot to another publisher leaves the first one.
  Orba::Publisher other;
  other.subscriberAdd(a);
  EXPECT_EQ(a.publisher(), &other);
  EXPECT_EQ(pub->subscriberCount(), 1u);

  // The publisher goes first: its slots are left unsubscribed and can still
  // be unsubscribed and destroyed.
  pub.reset();
  EXPECT_FALSE(b.subscribed());
  b.unsubscribe();

  // A callback may destroy the publisher that is calling it.
  r.calls.clear();
  pub = std::make_unique<Orba::Publisher>();
  b.callbackIs(r.cb("b", [&] { pub.reset(); }));
  pub->subscriberAdd(b);
  pub->subscriberAdd(c);
  pub->notify(7);
  EXPECT_THAT(r.calls, ElementsAre("b:7"));
  EXPECT_FALSE(c.subscribed());

  // A callback that throws leaves the publisher in working order.
  Orba::Publisher p2;
  c.callbackIs([](Kiv::AttributeId, void const*) { throw std::runtime_error("boom"); });
  p2.subscriberAdd(c);
  EXPECT_THROW(p2.notify(1), std::runtime_error);
  c.callbackIs([&](Kiv::AttributeId, void const*) { p2.subscriberRemove(c); });
  EXPECT_NO_THROW(p2.notify(1));
  EXPECT_EQ(p2.subscriberCount(), 0u);
}

// The agent's slice reactors show adds, replacements and removals; here,
// what they cannot see: the same object again is no news, and an empty
// entity is refused.
TEST(DirTest, OnlyRealChangesAreTold) {
  auto dir = Kiv::Dir::DirIs("slice");
  auto e1 = Kiv::Dir::DirIs("one");
  Recorder r;
  Orba::SubscriberSlot slot(r.cb("dir"));
  dir->publisher()->subscriberAdd(slot);
  dir->entityIs("b", e1);
  dir->entityIs("b", e1);
  EXPECT_FALSE(dir->entityDel("a"));
  EXPECT_THROW(dir->entityIs("c", nullptr), Kiv::NullArgumentException);
  EXPECT_EQ(r.calls.size(), 1u);
  EXPECT_FALSE(dir->entityPtrHas("c"));
}

}  // namespace
