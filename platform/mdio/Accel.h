#pragma once

#include "platform/hardware/Ham.h"
#include "platform/kiv/Typed.h"

namespace HalMdioAccel {

// The MDIO accelerator: one bus of a hardware access handle, selected by the
// bus bits. Without a handle or without the selected bus every access fails
// with an error text.
class Accel : public Kiv::Typed<Accel> {
 public:
  static Orba::Ptr<Accel> AccelIs(Orba::Ptr<Fru::Ham const> const& ham, BusBits busBits);

  Orba::Ptr<Fru::Ham const> const& ham() const noexcept { return ham_; }
  BusBits busBits() const noexcept { return busBits_; }
  Orba::Ptr<Hardware::Mdio::Bus> const& bus() const noexcept { return bus_; }

  Hardware::Mdio::AccessResult read(Hardware::Mdio::PortAddr phy, std::uint8_t reg);
  Hardware::Mdio::AccessResult write(Hardware::Mdio::PortAddr phy, std::uint8_t reg,
                                     std::uint16_t value);
  Kiv::Seconds accessTime() const;

  static Kiv::TypeDesc const& typeDesc();

 private:
  Accel(Orba::Ptr<Fru::Ham const> ham, BusBits busBits);
  Orba::Ptr<Fru::Ham const> ham_;
  BusBits busBits_;
  Orba::Ptr<Hardware::Mdio::Bus> bus_;
};

}  // namespace HalMdioAccel
