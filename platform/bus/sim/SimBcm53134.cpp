#include "platform/bus/sim/SimBcm53134.h"

#include "platform/kiv/Type.h"

namespace Hardware::Mdio::Sim {

Orba::Ptr<Bcm53134Chip> Bcm53134Chip::Bcm53134ChipIs() {
  return Orba::Ptr<Bcm53134Chip>::adopt(new Bcm53134Chip());
}

Bcm53134Chip::Bcm53134Chip() {
  for (auto& p : phys_) {
    p.regs[0] = 0x1140;  // basic control: auto-negotiation on, full duplex, 1000 Mb/s
    p.regs[2] = 0xae02;  // PHY identifier
    p.regs[3] = 0x5071;
  }
}

AccessResult Bcm53134Chip::noPhy(PortAddr phy) {
  return {0, "no PHY answers at MDIO address " + std::to_string(phy)};
}

bool Bcm53134Chip::live(Phy const& p) const {
  return p.offered && !(coupling_ && (p.regs[kExtCtrl] & kTxDisableBit));
}

void Bcm53134Chip::updateLink(Phy& p) {
  bool up = live(p);
  if (p.wasUp && !up)
    p.latchedLow = true;
  p.wasUp = up;
}

std::uint16_t Bcm53134Chip::statusValue(Phy& p) {
  bool up = live(p);
  std::uint16_t v = kStatusNoLink;
  if (up)
    v |= kStatusAnegComplete;
  if (up && !p.latchedLow)
    v |= kStatusLinkBit;
  p.latchedLow = false;  // reading re-arms the latch
  return v;
}

AccessResult Bcm53134Chip::read(PortAddr phy, std::uint8_t reg) {
  if (phy >= kPorts || reg > 31)
    return noPhy(phy);
  auto& p = phys_[phy];
  ++p.reads[reg];
  if (reg == kMiiStatus) {
    ++miiStatusReadsTotal_;
    if (p.miiReadFail)
      return {0, "MII read of port " + std::to_string(phy) + " failed"};
  } else {
    ++registerAccesses_;
    if (failCount_ > 0) {
      --failCount_;
      return {0, failText_};
    }
  }
  std::uint16_t v = reg == kMiiStatus ? statusValue(p) : p.regs[reg];
  if (auto it = readOverrides_.find({phy, reg}); it != readOverrides_.end()) {
    v = it->second;
    readOverrides_.erase(it);
  }
  return {v, {}};
}

AccessResult Bcm53134Chip::write(PortAddr phy, std::uint8_t reg, std::uint16_t value) {
  if (phy >= kPorts || reg > 31)
    return noPhy(phy);
  auto& p = phys_[phy];
  ++p.writes[reg];
  ++registerAccesses_;
  ++registerWrites_;
  if (failCount_ > 0) {
    --failCount_;
    return {0, failText_};
  }
  if (reg != kMiiStatus)
    p.regs[reg] = value;  // the status register is read-only
  updateLink(p);
  return {0, {}};
}

void Bcm53134Chip::linkIs(PortAddr port, bool up) {
  if (port >= kPorts)
    return;
  phys_[port].offered = up;
  updateLink(phys_[port]);
}

bool Bcm53134Chip::linkOffered(PortAddr port) const {
  return port < kPorts && phys_[port].offered;
}
bool Bcm53134Chip::link(PortAddr port) const {
  return port < kPorts && live(phys_[port]);
}

void Bcm53134Chip::linkFlap(PortAddr port) {
  if (port < kPorts)
    phys_[port].latchedLow = true;
}

void Bcm53134Chip::txDisableCouplingIs(bool on) {
  coupling_ = on;
  for (auto& p : phys_)
    updateLink(p);
}

std::uint16_t Bcm53134Chip::reg(PortAddr phy, std::uint8_t reg) const {
  if (phy >= kPorts || reg > 31)
    return 0;
  auto const& p = phys_[phy];
  if (reg == kMiiStatus) {
    bool up = live(p);
    return static_cast<std::uint16_t>(kStatusNoLink | (up ? kStatusAnegComplete : 0) |
                                      (up && !p.latchedLow ? kStatusLinkBit : 0));
  }
  return p.regs[reg];
}

void Bcm53134Chip::regIs(PortAddr phy, std::uint8_t reg, std::uint16_t value) {
  if (phy >= kPorts || reg > 31 || reg == kMiiStatus)
    return;
  phys_[phy].regs[reg] = value;
  updateLink(phys_[phy]);
}

void Bcm53134Chip::failNextAccesses(unsigned count, std::string const& text) {
  failCount_ = count;
  failText_ = text;
}

void Bcm53134Chip::readValueIs(PortAddr phy, std::uint8_t reg, std::uint16_t value) {
  readOverrides_[{phy, reg}] = value;
}

void Bcm53134Chip::miiReadFailIs(PortAddr port, bool fail) {
  if (port < kPorts)
    phys_[port].miiReadFail = fail;
}

unsigned Bcm53134Chip::reads(PortAddr phy, std::uint8_t reg) const {
  return phy < kPorts && reg < 32 ? phys_[phy].reads[reg] : 0;
}
unsigned Bcm53134Chip::writes(PortAddr phy, std::uint8_t reg) const {
  return phy < kPorts && reg < 32 ? phys_[phy].writes[reg] : 0;
}

void Bcm53134Chip::countersClear() {
  for (auto& p : phys_) {
    p.reads.fill(0);
    p.writes.fill(0);
  }
  registerAccesses_ = registerWrites_ = miiStatusReadsTotal_ = 0;
}

Kiv::TypeDesc const& Bcm53134Chip::typeDesc() {
  static Kiv::TypeDesc const d = Kiv::entityType("Hardware::Mdio::Sim::Bcm53134Chip");
  return d;
}

}  // namespace Hardware::Mdio::Sim
