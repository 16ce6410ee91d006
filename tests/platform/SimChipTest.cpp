#include <gtest/gtest.h>

#include <vector>

#include "platform/mdio/MdioRegLib.h"
#include "platform/mdio/sim/SimBcm53134.h"
#include "tests/support/Loop.h"

namespace {

using Chip = Hardware::Mdio::Sim::Bcm53134Chip;

// A bare simulated chip, read and written directly as the MDIO bus.
class SimChipTest : public ::testing::Test {
 protected:
  // Whether successive MII status reads of the port show the link bit.
  std::vector<bool> linkReads(Hardware::Mdio::PortAddr port, int n) {
    std::vector<bool> r;
    for (int i = 0; i < n; ++i) {
      auto a = chip->read(port, Chip::kMiiStatus);
      EXPECT_TRUE(a.ok());
      r.push_back(a.value & Chip::kStatusLinkBit);
    }
    return r;
  }
  using V = std::vector<bool>;
  Orba::Ptr<Chip> chip = Chip::Bcm53134ChipIs();
};

TEST_F(SimChipTest, LatchedLinkBitAcrossSuccessiveReads) {
  EXPECT_EQ(linkReads(1, 2), (V{false, false}));  // no partner at power-on
  chip->linkIs(1, true);
  EXPECT_EQ(chip->read(1, Chip::kMiiStatus).value, 0x796d);  // link, auto-negotiation done
  EXPECT_EQ(linkReads(1, 2), (V{true, true}));

  // A drop that lasts: every read shows it.
  chip->linkIs(1, false);
  EXPECT_EQ(chip->read(1, Chip::kMiiStatus).value, 0x7949);
  EXPECT_EQ(linkReads(1, 2), (V{false, false}));

  // The link comes back after the drop was read: seen at once.
  chip->linkIs(1, true);
  EXPECT_EQ(linkReads(1, 1), (V{true}));

  // Drop and recovery between two reads: the first read shows the drop
  // (while auto-negotiation is complete again), the second the live link.
  chip->linkIs(1, false);
  chip->linkIs(1, true);
  auto first = chip->read(1, Chip::kMiiStatus).value;
  EXPECT_EQ(first & Chip::kStatusLinkBit, 0);
  EXPECT_EQ(first & Chip::kStatusAnegComplete, Chip::kStatusAnegComplete);
  EXPECT_EQ(linkReads(1, 2), (V{true, true}));

  // A flap too short for anything but the latch.
  chip->linkFlap(1);
  EXPECT_TRUE(chip->link(1));
  EXPECT_EQ(linkReads(1, 3), (V{false, true, true}));

  // Looking without reading keeps the latch; other ports are untouched.
  chip->linkIs(2, true);
  chip->linkFlap(1);
  EXPECT_EQ(chip->reg(1, Chip::kMiiStatus) & Chip::kStatusLinkBit, 0);
  EXPECT_EQ(chip->reg(1, Chip::kMiiStatus) & Chip::kStatusLinkBit, 0);
  EXPECT_EQ(linkReads(2, 1), (V{true}));
  EXPECT_EQ(linkReads(1, 2), (V{false, true}));
}

TEST_F(SimChipTest, TransmitterDisableDropsTheLinkOnlyWhenCoupled) {
  chip->linkIs(4, true);
  EXPECT_FALSE(chip->txDisableCoupling());  // off by default
  EXPECT_TRUE(chip->write(4, Chip::kExtCtrl, 0x3000).ok());
  EXPECT_EQ(linkReads(4, 2), (V{true, true}));

  chip->txDisableCouplingIs(true);  // the transmitter is already off
  EXPECT_FALSE(chip->link(4));
  EXPECT_TRUE(chip->linkOffered(4));
  EXPECT_EQ(linkReads(4, 2), (V{false, false}));

  // Transmitter on again: the link returns.
  chip->write(4, Chip::kExtCtrl, 0x1000);
  EXPECT_EQ(linkReads(4, 1), (V{true}));

  // Off and on again between two reads: only the latch tells.
  chip->write(4, Chip::kExtCtrl, 0x3000);
  chip->write(4, Chip::kExtCtrl, 0x1000);
  EXPECT_EQ(linkReads(4, 2), (V{false, true}));

  // Behind the agent's back counts the same.
  chip->regIs(4, Chip::kExtCtrl, 0x3000);
  EXPECT_FALSE(chip->link(4));
  chip->txDisableCouplingIs(false);
  EXPECT_EQ(linkReads(4, 2), (V{false, true}));
}

TEST_F(SimChipTest, RegistersCountersAndFaults) {
  // Power-on: extended and auxiliary control clear.
  for (unsigned p = 0; p < Chip::kPorts; ++p) {
    EXPECT_EQ(chip->reg(p, Chip::kExtCtrl), 0);
    EXPECT_EQ(chip->reg(p, Chip::kAuxCtrl), 0);
  }
  chip->write(3, Chip::kAuxCtrl, 0x0430);
  chip->write(3, Chip::kAuxCtrl, 0x0430);
  chip->read(3, Chip::kAuxCtrl);
  chip->read(3, Chip::kMiiStatus);
  chip->read(3, Chip::kMiiStatus);
  chip->read(5, Chip::kMiiStatus);
  chip->regIs(3, Chip::kExtCtrl, 0x1000);  // behind the back: not counted
  (void)chip->reg(3, Chip::kExtCtrl);
  EXPECT_EQ(chip->writes(3, Chip::kAuxCtrl), 2u);
  EXPECT_EQ(chip->reads(3, Chip::kAuxCtrl), 1u);
  EXPECT_EQ(chip->writes(3, Chip::kExtCtrl), 0u);
  EXPECT_EQ(chip->reads(3, Chip::kExtCtrl), 0u);
  EXPECT_EQ(chip->miiStatusReads(3), 2u);
  EXPECT_EQ(chip->miiStatusReads(5), 1u);
  EXPECT_EQ(chip->miiStatusReadsTotal(), 3u);
  EXPECT_EQ(chip->registerAccesses(), 3u);
  EXPECT_EQ(chip->registerWrites(), 2u);
  EXPECT_EQ(chip->read(3, Chip::kExtCtrl).value, 0x1000);
  // The status register cannot be written.
  chip->write(3, Chip::kMiiStatus, 0xffff);
  EXPECT_EQ(chip->read(3, Chip::kMiiStatus).value & Chip::kStatusLinkBit, 0);
  chip->countersClear();
  EXPECT_EQ(chip->registerAccesses() + chip->miiStatusReadsTotal() + chip->reads(3, Chip::kExtCtrl),
            0u);

  // Failures: the next N accesses other than MII status reads, then normal.
  chip->failNextAccesses(2, "bus stuck");
  EXPECT_TRUE(chip->read(3, Chip::kMiiStatus).ok());
  EXPECT_EQ(chip->read(3, Chip::kAuxCtrl).error, "bus stuck");
  EXPECT_EQ(chip->write(3, Chip::kAuxCtrl, 0).error, "bus stuck");
  EXPECT_EQ(chip->reg(3, Chip::kAuxCtrl), 0x0430);
  EXPECT_TRUE(chip->read(3, Chip::kAuxCtrl).ok());

  // A read override answers once, for that register only.
  chip->readValueIs(3, Chip::kAuxCtrl, 0xbeef);
  EXPECT_EQ(chip->read(3, Chip::kExtCtrl).value, 0x1000);
  EXPECT_EQ(chip->read(3, Chip::kAuxCtrl).value, 0xbeef);
  EXPECT_EQ(chip->read(3, Chip::kAuxCtrl).value, 0x0430);

  // Addresses without a PHY and registers beyond 31 fail.
  EXPECT_FALSE(chip->read(Chip::kPorts, 1).ok());
  EXPECT_FALSE(chip->write(30, 0x10, 1).ok());
  EXPECT_FALSE(chip->read(0, 32).ok());
}

// End to end: the register service and MII reads over the simulated chip, as
// the agent uses them: the transmitter switched off through a register write
// drops a coupled link, and the MII read sees it.
TEST(SimChipThroughService, TransmitterOffThroughTheServiceDropsACoupledLink) {
  TestSupport::resetLoop();
  auto chip = Chip::Bcm53134ChipIs();
  chip->txDisableCouplingIs(true);
  chip->linkIs(1, true);
  auto config = Bcm53134::MdioRegLib::Config::ConfigIs("");
  auto status = Bcm53134::MdioRegLib::Status::StatusIs("");
  auto sm = Bcm53134::MdioRegLib::RegisterSm::RegisterSmIs(
      HalMdioAccel::Accel::AccelIs(Fru::Ham::HamIs(chip), 0), config, status);
  sm->hasNotificationActiveIs(true);
  auto const& mii = sm->miiOp();
  EXPECT_EQ(mii.read(1, 1) & Chip::kStatusLinkBit, Chip::kStatusLinkBit);

  config->requestEnq({.value = 0x3000, .xid = 1, .page = 0x11, .addr = 0x20, .op = 1, .size = 2});
  EXPECT_EQ(mii.read(1, 1) & Chip::kStatusLinkBit, Chip::kStatusLinkBit);  // not yet on the bus
  TestSupport::advance(1);
  ASSERT_EQ(status->resultCount(), 1u);
  EXPECT_EQ(status->resultDeq().error, "");
  EXPECT_EQ(mii.read(1, 1) & Chip::kStatusLinkBit, 0u);
  EXPECT_EQ(chip->writes(1, Chip::kExtCtrl), 1u);
  EXPECT_EQ(chip->miiStatusReads(1), 3u);
  TestSupport::resetLoop();
}

}  // namespace
