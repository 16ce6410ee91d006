#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "platform/kiv/Clock.h"
#include "platform/kiv/Trace.h"
#include "platform/orba/Publisher.h"
#include "tests/support/Loop.h"

// Every allocation of the test binary is counted, so that a test can prove
// that a steady-state path allocates nothing.
namespace {
long allocations = 0;
void* counted(std::size_t n) {
  ++allocations;
  if (void* p = std::malloc(n ? n : 1))
    return p;
  throw std::bad_alloc();
}
}  // namespace

// The array and nothrow forms all end in these.
void* operator new(std::size_t n) {
  return counted(n);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

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
  long const before = allocations;
  for (int i = 0; i < 100; ++i)
    round();
  EXPECT_EQ(allocations - before, 0);
  EXPECT_EQ(calls, 202);
  EXPECT_EQ(poller->polls, 404);

  Kiv::traceSinkIs(previousSink);
  th.maskIs(0);
}

}  // namespace
