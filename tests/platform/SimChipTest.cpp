#include <gtest/gtest.h>

#include <vector>

#include "platform/bus/sim/SimBcm53134.h"

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

  // A flap too short for anything but the latch; looking without reading
  // keeps the latch, and other ports are untouched.
  chip->linkIs(2, true);
  chip->linkFlap(1);
  EXPECT_TRUE(chip->link(1));
  EXPECT_EQ(chip->reg(1, Chip::kMiiStatus) & Chip::kStatusLinkBit, 0);
  EXPECT_EQ(linkReads(2, 1), (V{true}));
  EXPECT_EQ(linkReads(1, 3), (V{false, true, true}));

  // The status register cannot be written; there is no PHY past the last
  // port and no register past 31.
  chip->write(1, Chip::kMiiStatus, 0);
  EXPECT_EQ(linkReads(1, 1), (V{true}));
  EXPECT_FALSE(chip->read(Chip::kPorts, 1).ok());
  EXPECT_FALSE(chip->write(30, 0x10, 1).ok());
  EXPECT_FALSE(chip->read(0, 32).ok());
}

TEST_F(SimChipTest, TransmitterDisableDropsTheLinkOnlyWhenCoupled) {
  chip->linkIs(4, true);
  EXPECT_TRUE(chip->write(4, Chip::kExtCtrl, 0x3000).ok());
  EXPECT_EQ(linkReads(4, 2), (V{true, true}));  // not coupled by default

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

}  // namespace
