#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "platform/kiv/Clock.h"
#include "platform/kiv/Dir.h"
#include "platform/kiv/EventLoop.h"
#include "tests/support/Loop.h"

namespace {

using ::testing::ElementsAre;
using ::testing::Pair;
using TestSupport::advance;
using TestSupport::now;

// Every firing is logged as "name@time" into one shared journal, so a test
// reads the order in which the loop ran things.
struct Journal {
  std::vector<std::string> entries;
  void add(std::string const& name) {
    char t[32];
    std::snprintf(t, sizeof t, "%g", now());
    entries.push_back(name + "@" + t);
  }
};

class TestTimer : public Kiv::Timer {
 public:
  TestTimer(Journal& j, std::string name) : journal_(j), name_(std::move(name)) {}
  std::function<void(TestTimer&)> then;

 protected:
  void onTimer() override {
    journal_.add(name_);
    if (then)
      then(*this);
  }

 private:
  Journal& journal_;
  std::string name_;
};

class LoopTest : public ::testing::Test {
 protected:
  void SetUp() override { TestSupport::resetLoop(); }
  void TearDown() override { TestSupport::resetLoop(); }
  Journal j;
};

TEST_F(LoopTest, FiresByDueTimeThenArmingOrderOncePerArming) {
  TestTimer a(j, "a"), b(j, "b"), c(j, "c"), d(j, "d"), e(j, "e");
  a.arm(3);
  b.arm(1);
  c.arm(2);
  d.arm(1);  // ties with b, armed after it
  e.arm(9);
  e.arm(2);  // re-arming replaces the pending wake-up, and counts as a new arming
  EXPECT_EQ(Kiv::EventLoop::instance().armedCount(), 5u);
  EXPECT_EQ(advance(5), 5u);
  EXPECT_THAT(j.entries, ElementsAre("b@1", "d@1", "c@2", "e@2", "a@3"));
  EXPECT_EQ(now(), 5);
  EXPECT_FALSE(a.armed());
  // Nothing is left over from the replaced arming of e.
  EXPECT_EQ(Kiv::EventLoop::instance().armedCount(), 0u);

  j.entries.clear();
  a.arm(now() + 4);
  a.arm(now() + 1);  // moved earlier
  b.arm(now() + 1);
  b.arm(now() + 3);  // moved later
  advance(10);
  EXPECT_THAT(j.entries, ElementsAre("a@6", "b@8"));
}

TEST_F(LoopTest, DestroyedAndDisarmedTimersNeverFire) {
  TestTimer keep(j, "keep");
  {
    TestTimer gone(j, "gone");
    gone.arm(1);
  }
  auto victim = std::make_unique<TestTimer>(j, "victim");
  TestTimer killer(j, "killer");
  killer.arm(2);
  victim->arm(2);  // due together with killer, which destroys it first
  killer.then = [&](TestTimer&) { victim.reset(); };
  keep.arm(3);
  keep.disarm();
  keep.disarm();
  advance(10);
  EXPECT_THAT(j.entries, ElementsAre("killer@2"));
  EXPECT_EQ(Kiv::EventLoop::instance().armedCount(), 0u);
}

TEST_F(LoopTest, AdvanceRunUntilIdleAndRunUntil) {
  TestTimer a(j, "a"), b(j, "b"), c(j, "c");
  a.arm(0);
  b.arm(2);
  c.arm(2.5);
  // runUntilIdle runs only what is due now and never moves the clock.
  EXPECT_EQ(TestSupport::runUntilIdle(), 1u);
  EXPECT_EQ(now(), 0);
  // advance includes its end point, excludes what lies beyond, and always
  // leaves the clock at the end.
  EXPECT_EQ(advance(2), 1u);
  EXPECT_EQ(now(), 2);
  EXPECT_EQ(advance(0.25), 0u);
  EXPECT_EQ(now(), 2.25);
  EXPECT_THAT(j.entries, ElementsAre("a@0", "b@2"));

  // runUntil stops right after the event that makes the predicate hold,
  // with the clock at that event's time.
  int fired = 0;
  a.then = b.then = c.then = [&](TestTimer&) { ++fired; };
  a.arm(4);
  b.arm(6);
  EXPECT_TRUE(TestSupport::runUntil([&] { return fired == 2; }, 10));
  EXPECT_EQ(now(), 4);
  EXPECT_TRUE(b.armed());
  // A predicate that already holds runs nothing.
  EXPECT_TRUE(TestSupport::runUntil([] { return true; }, 10));
  EXPECT_EQ(now(), 4);
  // One that never holds stops at the limit, leaving later events armed.
  EXPECT_FALSE(TestSupport::runUntil([] { return false; }, 1.5));
  EXPECT_EQ(now(), 5.5);
  EXPECT_TRUE(b.armed());
  EXPECT_EQ(fired, 2);
}

TEST_F(LoopTest, PostedCallsRunAfterWhatIsAlreadyDue) {
  auto& loop = Kiv::EventLoop::instance();
  advance(1);
  TestTimer early(j, "early"), due(j, "due"), later(j, "later"), past(j, "past");
  early.arm(0.5);  // overdue
  due.arm(1);
  loop.post([&] {
    j.add("post1");
    loop.post([&] { j.add("post3"); });  // behind everything due when posted
  });
  later.arm(1);  // due now, armed after the post
  past.arm(0);   // overdue, armed after the post: still waits its turn
  loop.post([&] { j.add("post2"); });
  EXPECT_EQ(loop.runUntilIdle(), 7u);
  EXPECT_THAT(j.entries, ElementsAre("early@1", "due@1", "post1@1", "later@1", "past@1", "post2@1",
                                     "post3@1"));
  // A wake-up with no usable time is taken as "at once" and keeps the heap sane.
  j.entries.clear();
  later.arm(3);
  past.arm(NAN);
  advance(5);
  EXPECT_THAT(j.entries, ElementsAre("past@1", "later@3"));
}

TEST_F(LoopTest, TimerRearmedFromItsOwnCallback) {
  TestTimer tick(j, "tick"), other(j, "other");
  int n = 0;
  tick.then = [&](TestTimer& t) {
    if (++n < 3)
      t.arm(now() + 1);  // periodic
  };
  tick.arm(1);
  advance(10);
  EXPECT_THAT(j.entries, ElementsAre("tick@1", "tick@2", "tick@3"));

  // Re-armed for now, it queues behind what is already due instead of
  // starving it.
  j.entries.clear();
  n = 0;
  tick.then = [&](TestTimer& t) {
    if (++n < 3)
      t.arm(now());
  };
  tick.arm(now());
  other.arm(now());
  EXPECT_EQ(TestSupport::runUntilIdle(), 4u);
  EXPECT_THAT(j.entries, ElementsAre("tick@10", "other@10", "tick@10", "tick@10"));
}

// A clock notifiee that records its wake-ups; onWake lets a test act from
// inside the callback.
class Sleeper : public Kiv::Clock::NotifieeConst {
 public:
  std::vector<std::pair<Kiv::AttributeId, Kiv::Seconds>> seen;
  std::function<void()> onWake;
  bool* destroyed = nullptr;
  ~Sleeper() override {
    if (destroyed)
      *destroyed = true;
  }
  void onAttribute(Kiv::AttributeId id, void const*) override {
    seen.emplace_back(id, now());
    if (onWake)
      onWake();
  }
};

Orba::Ptr<Sleeper> boundSleeper() {
  auto s = Orba::make<Sleeper>();
  s->notifierIs(Kiv::ActivityFacility::clock());
  s->isRegisteredNotifieeIs(true);
  s->hasNotificationActiveIs(true);
  return s;
}

TEST_F(LoopTest, ClockNotifieeGetsOneWakeupAttributePerArming) {
  auto s = boundSleeper();
  EXPECT_EQ(Kiv::Clock::NotifieeConst::wakeupAttrId(), 258u);
  s->timeMinIs(now() + 2);
  s->timeMinIs(now() + 3);  // replaces
  advance(10);
  EXPECT_THAT(s->seen, ElementsAre(Pair(258u, 3)));

  // Off, zombie or unregistered: the arming passes silently.
  s->seen.clear();
  s->hasNotificationActiveIs(false);
  s->timeMinIs(now() + 1);
  advance(2);
  s->hasNotificationActiveIs(true);
  s->kivDoZombieReactors(true);
  s->timeMinIs(now() + 1);
  advance(2);
  s->kivDoZombieReactors(false);
  s->timeMinIs(now() + 1);
  s->isRegisteredNotifieeIs(false);
  advance(2);
  EXPECT_TRUE(s->seen.empty());
  EXPECT_FALSE(s->armed());

  // Bound to something that is not a clock, it has no clock at all.
  s->isRegisteredNotifieeIs(true);
  s->timeMinIs(now() + 1);
  auto dir = Kiv::Dir::DirIs("notAClock");
  s->notifierIs(dir);
  EXPECT_FALSE(s->notifier());
  s->timeMinIs(now() + 1);
  advance(2);
  EXPECT_TRUE(s->seen.empty());
  EXPECT_EQ(Kiv::EventLoop::instance().armedCount(), 0u);
}

TEST_F(LoopTest, ClockNotifieeSurvivesBeingDroppedByItsOwnWakeup) {
  Kiv::ActivityFacility::clock();  // the process clock lives on; count without it
  auto const base = Orba::Node::liveCount();
  bool destroyed = false;
  {
    auto s = boundSleeper();
    s->destroyed = &destroyed;
    Sleeper* raw = s.get();
    raw->onWake = [&] {
      s = nullptr;  // the owner lets go while the notifiee is running
      EXPECT_FALSE(destroyed);
      raw->timeMinIs(now() + 1);  // still usable, and disarmed by its destruction
      EXPECT_EQ(raw->seen.size(), 1u);
    };
    s->timeMinIs(now() + 1);
    advance(1);
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(s);
  }
  EXPECT_EQ(Orba::Node::liveCount(), base);
  EXPECT_EQ(Kiv::EventLoop::instance().armedCount(), 0u);

  // Destroyed while armed: nothing fires.
  auto s = boundSleeper();
  s->timeMinIs(now() + 1);
  s = nullptr;
  EXPECT_EQ(advance(5), 0u);
}

}  // namespace
