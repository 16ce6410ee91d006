#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "platform/bus/Bus.h"
#include "platform/kiv/Typed.h"

namespace Hardware::Mdio::Sim {

// A simulated BCM53134 on an MDIO bus: the internal PHYs of ports 0 to 7,
// each with its MII registers. Modelled with care:
//  - the MII status register (1) with its latched-low link bit (bit 2): a
//    link failure clears the bit until the register is read, so the first
//    read after a drop shows no link even if the link is back, and later
//    reads show the live state; the auto-negotiation-complete bit (5) follows
//    the live link;
//  - extended control (0x10) and auxiliary control (0x18), both 0 at power-on.
// Every other MII register simply stores what is written.
//
// Tests and scenarios drive it: a port's link (an input), a flap that only
// the latch records, registers changed behind the agent's back, the next N
// register accesses failing, a read returning a given value, MII status
// reads of a port failing, the access time (and so the register service's
// result delay), and an option that drops a port's link while its
// transmitter-disable bit (extended control bit 13) is set, as a real link
// partner would see it. Counters record reads and writes per register and
// MII status reads per port.
class Bcm53134Chip : public Kiv::Typed<Bcm53134Chip, Bus> {
 public:
  static constexpr unsigned kPorts = 8;
  static constexpr std::uint8_t kMiiStatus = 0x01;
  static constexpr std::uint8_t kExtCtrl = 0x10;
  static constexpr std::uint8_t kAuxCtrl = 0x18;
  static constexpr std::uint16_t kStatusNoLink = 0x7949;
  static constexpr std::uint16_t kStatusLinkBit = 0x0004;
  static constexpr std::uint16_t kStatusAnegComplete = 0x0020;
  static constexpr std::uint16_t kTxDisableBit = 0x2000;

  static Orba::Ptr<Bcm53134Chip> Bcm53134ChipIs();

  // The bus.
  AccessResult read(PortAddr phy, std::uint8_t reg) override;
  AccessResult write(PortAddr phy, std::uint8_t reg, std::uint16_t value) override;
  Kiv::Seconds accessTime() const override { return accessTime_; }
  void accessTimeIs(Kiv::Seconds t) { accessTime_ = t; }
  std::string description() const override { return "simulated BCM53134"; }

  // The link partner: whether it offers a link.
  void linkIs(PortAddr port, bool up);
  bool linkOffered(PortAddr port) const;
  // The link as the PHY sees it now (the offered link, less the
  // transmitter-disable coupling when that is on).
  bool link(PortAddr port) const;
  // A drop and recovery between two reads: only the latch records it.
  void linkFlap(PortAddr port);
  void txDisableCouplingIs(bool on);
  bool txDisableCoupling() const noexcept { return coupling_; }

  // Register contents, without counting or faults (behind the agent's back).
  std::uint16_t reg(PortAddr phy, std::uint8_t reg) const;
  void regIs(PortAddr phy, std::uint8_t reg, std::uint16_t value);

  // Faults.
  // The next count accesses other than MII status reads fail with the text.
  void failNextAccesses(unsigned count, std::string const& text);
  unsigned failuresPending() const noexcept { return failCount_; }
  // The next read of that register returns the value instead of its content.
  void readValueIs(PortAddr phy, std::uint8_t reg, std::uint16_t value);
  // Values set with readValueIs that no read has taken yet.
  std::size_t readValuesPending() const noexcept { return readOverrides_.size(); }
  // While set, MII status reads of the port fail.
  void miiReadFailIs(PortAddr port, bool fail);

  // Counters.
  unsigned reads(PortAddr phy, std::uint8_t reg) const;
  unsigned writes(PortAddr phy, std::uint8_t reg) const;
  unsigned miiStatusReads(PortAddr port) const { return reads(port, kMiiStatus); }
  // Accesses other than MII status reads (the register service's share).
  unsigned registerAccesses() const noexcept { return registerAccesses_; }
  unsigned registerWrites() const noexcept { return registerWrites_; }
  unsigned miiStatusReadsTotal() const noexcept { return miiStatusReadsTotal_; }
  void countersClear();

  static Kiv::TypeDesc const& typeDesc();

 private:
  Bcm53134Chip();
  struct Phy {
    std::array<std::uint16_t, 32> regs{};
    std::array<unsigned, 32> reads{};
    std::array<unsigned, 32> writes{};
    bool offered = false;     // the partner offers a link
    bool latchedLow = false;  // a drop not yet read
    bool wasUp = false;
    bool miiReadFail = false;
  };
  static AccessResult noPhy(PortAddr phy);
  void updateLink(Phy& p);
  bool live(Phy const& p) const;
  std::uint16_t statusValue(Phy& p);

  std::array<Phy, kPorts> phys_;
  bool coupling_ = false;
  Kiv::Seconds accessTime_ = kFrameTime;
  unsigned failCount_ = 0;
  std::string failText_;
  std::map<std::pair<PortAddr, std::uint8_t>, std::uint16_t> readOverrides_;
  unsigned registerAccesses_ = 0, registerWrites_ = 0, miiStatusReadsTotal_ = 0;
};

}  // namespace Hardware::Mdio::Sim
