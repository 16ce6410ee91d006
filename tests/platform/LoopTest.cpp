#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/kiv/Clock.h"
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
  EXPECT_EQ(advance(5), 5u);
  EXPECT_THAT(j.entries, ElementsAre("b@1", "d@1", "c@2", "e@2", "a@3"));
  EXPECT_EQ(now(), 5);
  // Nothing is left over from the replaced arming of e.
  EXPECT_EQ(Kiv::EventLoop::instance().armedCount(), 0u);

  j.entries.clear();
  a.arm(now() + 4);
  a.arm(now() + 1);  // moved earlier
  b.arm(now() + 1);
  b.arm(now() + 3);  // moved later
  advance(10);
  EXPECT_THAT(j.entries, ElementsAre("a@6", "b@8"));

  // Destroyed or disarmed timers never fire, even one destroyed by another
  // due at the same time.
  j.entries.clear();
  {
    TestTimer gone(j, "gone");
    gone.arm(now() + 1);
  }
  auto victim = std::make_unique<TestTimer>(j, "victim");
  a.arm(now() + 2);
  victim->arm(now() + 2);
  a.then = [&](TestTimer&) { victim.reset(); };
  b.arm(now() + 3);
  b.disarm();
  b.disarm();
  advance(10);
  EXPECT_THAT(j.entries, ElementsAre("a@17"));
  EXPECT_EQ(Kiv::EventLoop::instance().armedCount(), 0u);
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

// An exception that escapes an event handler (a refused mutation deep in
// an agent's reaction) is traced at level 0 and the loop goes on.
TEST_F(LoopTest, AnExceptionFromAHandlerIsTracedAndTheLoopGoesOn) {
  TestSupport::TraceCapture tc("EventLoop/0");
  TestTimer bad(j, "bad"), good(j, "good");
  bad.then = [](TestTimer&) { throw std::logic_error("re-instantiation refused"); };
  bad.arm(1);
  good.arm(2);
  EXPECT_NO_THROW(advance(3));
  EXPECT_THAT(j.entries, ElementsAre("bad@1", "good@2"));
  EXPECT_THAT(tc.sink.messages(),
              ElementsAre("ADDR::dispatch: an event handler was cut short by an exception: "
                          "re-instantiation refused"));
}

// A timer re-armed for now from its own callback queues behind what is
// already due instead of starving it.
TEST_F(LoopTest, TimerRearmedForNowFromItsOwnCallbackStarvesNothing) {
  TestTimer tick(j, "tick"), other(j, "other");
  int n = 0;
  tick.then = [&](TestTimer& t) {
    if (++n < 3)
      t.arm(now());
  };
  tick.arm(now());
  other.arm(now());
  EXPECT_EQ(TestSupport::runUntilIdle(), 4u);
  EXPECT_THAT(j.entries, ElementsAre("tick@0", "other@0", "tick@0", "tick@0"));
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
  auto const& clock = *Kiv::ActivityFacility::clock();
  auto const wakeups = clock.wakeups();
  s->timeMinIs(now() + 2);
  s->timeMinIs(now() + 3);  // replaces
  EXPECT_EQ(clock.pendingWakeups(), 1u);
  EXPECT_EQ(clock.nextWakeup(), now() + 3);
  advance(10);
  EXPECT_EQ(clock.pendingWakeups(), 0u);
  EXPECT_THAT(s->seen, ElementsAre(Pair(Kiv::Clock::NotifieeConst::wakeupAttrId(), 3)));
  // The clock counts what it delivers, which is what a watchdog reads.
  EXPECT_EQ(clock.wakeups(), wakeups + 1);
  EXPECT_EQ(clock.lastWakeup(), 3);

  // Off, zombie or unregistered: the arming passes silently.
  s->seen.clear();
  s->hasNotificationActiveIs(false);
  s->timeMinIs(now() + 1);
  EXPECT_EQ(clock.pendingWakeups(), 0u) << "an arming that will pass silently is none";
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
  EXPECT_EQ(clock.wakeups(), wakeups + 1);
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
