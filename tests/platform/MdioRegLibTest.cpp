#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <vector>

#include "platform/bus/sim/SimBcm53134.h"
#include "platform/mdio/MdioRegLib.h"
#include "tests/support/Loop.h"

namespace {

using Bcm53134::MdioRegLib::Config;
using Bcm53134::MdioRegLib::RegisterSm;
using Bcm53134::MdioRegLib::Request;
using Bcm53134::MdioRegLib::Result;
using Bcm53134::MdioRegLib::Status;
using Chip = Hardware::Mdio::Sim::Bcm53134Chip;

Request readReq(std::uint32_t xid, std::uint32_t page, std::uint32_t addr, std::uint8_t size = 2) {
  return Request{
      .value = 0, .xid = xid, .page = page, .addr = addr, .op = Request::read, .size = size};
}
Request writeReq(std::uint32_t xid, std::uint32_t page, std::uint32_t addr, std::uint64_t value) {
  return Request{
      .value = value, .xid = xid, .page = page, .addr = addr, .op = Request::write, .size = 2};
}

// A register service named "" over the simulated chip on bus 0, switched on,
// with a subscriber that drains every result as it is notified and notes the
// time it arrived.
class RegisterSmTest : public ::testing::Test {
 protected:
  struct Got {
    Result result;
    Kiv::Seconds at;
  };

  void SetUp() override {
    TestSupport::resetLoop();
    chip = Chip::Bcm53134ChipIs();
    accel = HalMdioAccel::Accel::AccelIs(Fru::Ham::HamIs(chip), 0);
    config = Config::ConfigIs("");
    status = Status::StatusIs("");
    slot.callbackIs([this](Kiv::AttributeId id, void const*) {
      ++notifications;
      if (id != Status::resultAttrId())
        return;
      while (status->resultHas())
        got.push_back({status->resultDeq(), TestSupport::now()});
      if (onResult)
        onResult();
    });
    status->publisher()->subscriberAdd(slot);
    sm = RegisterSm::RegisterSmIs(accel, config, status);
    sm->hasNotificationActiveIs(true);
  }
  void TearDown() override {
    slot.unsubscribe();
    sm = {};
    TestSupport::resetLoop();
  }

  Kiv::Seconds const t = Hardware::Mdio::Bus::kFrameTime;
  Orba::Ptr<Chip> chip;
  Orba::Ptr<HalMdioAccel::Accel> accel;
  Orba::Ptr<Config> config;
  Orba::Ptr<Status> status;
  Orba::Ptr<RegisterSm> sm;
  Orba::SubscriberSlot slot;
  unsigned notifications = 0;
  std::function<void()> onResult;
  std::vector<Got> got;
};

TEST_F(RegisterSmTest, OneResultPerRequestInOrderOnlyThroughTheLoop) {
  chip->regIs(1, 0x10, 0x1000);
  config->requestEnq(readReq(7, 0x11, 0x20));
  EXPECT_TRUE(got.empty());  // never inside requestEnq
  TestSupport::runUntilIdle();
  EXPECT_TRUE(got.empty());  // nor before the access is over
  config->requestEnq(writeReq(8, 0x13, 0x20, 0x3000));
  config->requestEnq(readReq(9, 0x13, 0x20));
  EXPECT_EQ(notifications, 0u);

  TestSupport::advance(1.0);
  ASSERT_EQ(got.size(), 3u);
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].result.xid, 7 + i);
    EXPECT_EQ(got[i].result.error, "");
    // One access after another, each taking the bus time.
    EXPECT_NEAR(got[i].at, (i + 1) * t, 1e-12) << i;
  }
  EXPECT_EQ(got[0].result.value, 0x1000u);
  EXPECT_EQ(got[1].result.value, 0x3000u);  // a write answers with what it wrote
  EXPECT_EQ(got[2].result.value, 0x3000u);  // and the chip holds it
  EXPECT_EQ(chip->reg(3, 0x10), 0x3000);
  // Taking a result (inside the notification) notifies nobody; an empty
  // queue yields an empty result.
  EXPECT_EQ(notifications, 3u);
  EXPECT_EQ(status->resultDeq().xid, 0u);
  EXPECT_FALSE(sm->busy());
  EXPECT_EQ(config->requestCount(), 0u);

  // The delay follows the bus's access time; with none at all the result
  // still comes through the loop.
  chip->accessTimeIs(0.25);
  config->requestEnq(readReq(10, 0x10, 0x20));
  TestSupport::advance(0.2);
  EXPECT_EQ(got.size(), 3u);
  TestSupport::advance(0.1);
  EXPECT_EQ(got.size(), 4u);
  chip->accessTimeIs(0);
  config->requestEnq(readReq(11, 0x10, 0x20));
  EXPECT_EQ(got.size(), 4u);
  TestSupport::runUntilIdle();
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[4].result.xid, 11u);
}

TEST_F(RegisterSmTest, RefusedPagesAndSizesAnswerWithAnErrorCarryingTheXid) {
  struct Case {
    Request r;
    bool ok;
  };
  std::vector<Case> const cases{
      {readReq(1, 0x0f, 0x20), false},             // below the PHY pages
      {readReq(2, 0x10, 0x20), true},              // port 0
      {readReq(3, 0x17, 0x30), true},              // port 7
      {readReq(4, 0x18, 0x20), false},             // the IMP port's page
      {readReq(6, 0x10, 0x20, 1), false},          // one byte
      {readReq(8, 0x10, 0x21), false},             // not on a 16-bit boundary
      {readReq(9, 0x10, 0x40), false},             // beyond the 32 MII registers
      {writeReq(10, 0x19, 0x20, 1), false},        // writes are refused the same way
      {writeReq(11, 0x10, 0x20, 0x13000), false},  // wider than the register
      {Request{.xid = 12, .page = 0x10, .addr = 0x20, .op = 2, .size = 2}, false},
  };
  for (auto const& c : cases)
    config->requestEnq(c.r);
  TestSupport::advance(1);
  ASSERT_EQ(got.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(got[i].result.xid, cases[i].r.xid);
    EXPECT_EQ(got[i].result.error.empty(), cases[i].ok) << i << ": " << got[i].result.error;
  }
  EXPECT_EQ(got[0].result.error, "page 0xf is not reachable over MDIO");
  EXPECT_EQ(chip->writes(1, 0x10) + chip->writes(0, 0x10), 0u);  // nothing reached the chip
  EXPECT_EQ(chip->registerAccesses(), 2u);
}

TEST_F(RegisterSmTest, SwitchedOffOrDroppedServiceAnswersNothing) {
  sm->hasNotificationActiveIs(false);
  config->requestEnq(readReq(1, 0x10, 0x20));
  TestSupport::advance(5);
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(config->requestCount(), 1u);

  sm->hasNotificationActiveIs(true);
  sm->hasNotificationActiveIs(true);  // twice is once: one subscription, one answer
  TestSupport::advance(5);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].result.xid, 1u);

  // Switched off while a request is on the bus: it waits and is answered
  // once, after being switched on again.
  config->requestEnq(readReq(2, 0x10, 0x20));
  TestSupport::advance(t / 2);
  sm->hasNotificationActiveIs(false);
  TestSupport::advance(5);
  EXPECT_EQ(got.size(), 1u);
  sm->hasNotificationActiveIs(true);
  TestSupport::advance(5);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].result.xid, 2u);

  // Dropped while a request is on the bus: its result never arrives; a new
  // service over the same queues takes the waiting requests from the start.
  config->requestEnq(readReq(3, 0x10, 0x20));
  config->requestEnq(readReq(4, 0x10, 0x20));
  TestSupport::advance(t / 2);
  sm = RegisterSm::RegisterSmIs(accel, config, status);
  TestSupport::advance(5);
  EXPECT_EQ(got.size(), 2u);
  sm->hasNotificationActiveIs(true);
  TestSupport::advance(5);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[2].result.xid, 3u);
  EXPECT_EQ(got[3].result.xid, 4u);
}

TEST_F(RegisterSmTest, ReceiverMayDropTheServiceOrEnqueueFromTheResult) {
  // The receiver enqueues the next request from inside the result: that
  // result comes later, one access time on.
  onResult = [this] {
    if (got.size() == 1)
      config->requestEnq(readReq(2, 0x10, 0x20));
  };
  config->requestEnq(readReq(1, 0x10, 0x20));
  TestSupport::advance(1);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_NEAR(got[1].at - got[0].at, t, 1e-12);

  // The receiver drops the last handle to the service from inside a result;
  // the queued request after it is never answered.
  onResult = [this] { sm = {}; };
  config->requestEnq(readReq(3, 0x10, 0x20));
  config->requestEnq(readReq(4, 0x10, 0x20));
  TestSupport::advance(1);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[2].result.xid, 3u);
  EXPECT_EQ(config->requestCount(), 1u);
}

// The simulator's injected failures, which the agent's failure tests rely
// on: they reach the results, leave the register untouched, and are not
// used up by MII status reads.
TEST_F(RegisterSmTest, InjectedFaultsReachTheResultsAndChangeNothing) {
  chip->linkIs(2, true);
  chip->failNextAccesses(2, "MDIO timeout");
  config->requestEnq(writeReq(1, 0x10, 0x20, 0x3000));
  EXPECT_EQ(sm->miiOp().read(2, 1) & Chip::kStatusLinkBit, Chip::kStatusLinkBit);
  config->requestEnq(readReq(2, 0x10, 0x20));
  config->requestEnq(readReq(3, 0x10, 0x20));
  TestSupport::advance(1);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].result.error, "MDIO timeout");
  EXPECT_EQ(got[1].result.error, "MDIO timeout");
  EXPECT_EQ(got[2].result.error, "");
  EXPECT_EQ(chip->reg(0, 0x10), 0);
}

}  // namespace
