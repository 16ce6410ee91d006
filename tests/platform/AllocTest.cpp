#include <gtest/gtest.h>

#include "platform/kiv/Clock.h"
#include "platform/kiv/Trace.h"
#include "platform/orba/Publisher.h"
#include "tests/support/AllocCounter.h"
#include "tests/support/Loop.h"

namespace {

class Poller : public Kiv::Clock::NotifieeConst {
 public:
  int polls = 0;
  void onAttribute(Kiv::AttributeId, void const*) override {
    // Re-arms from inside its own wake-up, as a poll cycle does.
    if (++polls % 4)
      timeMinIs(Kiv::System::currentTime() + 0.5);
  }
};

TEST(AllocTest, SteadyStatePathsAllocateNothing) {
  TestSupport::resetLoop();
  static Kiv::TraceHandle th("CoreTestAlloc");
  Kiv::DiscardTraceSink discard;
  auto* previousSink = Kiv::traceSinkIs(&discard);
  th.maskIs(0x1);

  Orba::Publisher pub;
  int calls = 0;
  Orba::SubscriberSlot s1([&](Kiv::AttributeId, void const*) { ++calls; });
  Orba::SubscriberSlot s2([&](Kiv::AttributeId, void const*) { ++calls; });
  pub.subscriberAdd(s1);
  pub.subscriberAdd(s2);
  auto poller = Orba::make<Poller>();
  poller->notifierIs(Kiv::ActivityFacility::clock());
  poller->isRegisteredNotifieeIs(true);
  poller->hasNotificationActiveIs(true);
  std::string const name = "a name long enough to need the heap";

  auto round = [&] {
    pub.notify(1);
    poller->timeMinIs(Kiv::System::currentTime());
    TestSupport::advance(2.0);
    KIV_TRACE(th, 8) << name << std::string(name) << 42;  // off
    KIV_TRACE(th, 0) << poller.get() << "::doPoll"
                     << ": page 0x" << 16 << " " << name;
  };
  round();  // warm-up
  auto const before = TestSupport::allocations();
  for (int i = 0; i < 100; ++i)
    round();
  EXPECT_EQ(TestSupport::allocations() - before, 0u);
  EXPECT_EQ(calls, 202);
  EXPECT_EQ(poller->polls, 404);

  Kiv::traceSinkIs(previousSink);
  th.maskIs(0);
}

}  // namespace
