#pragma once

#include "platform/bus/Bus.h"
#include "platform/kiv/Type.h"
#include "platform/kiv/Typed.h"

namespace HalMdioAccel {
// Selects a bus of a hardware access handle; bit N selects bus N.
using BusBits = std::uint32_t;
}  // namespace HalMdioAccel

namespace Fru {

// The hardware access handle of the switch's MDIO buses. Its presence in the
// hardware config means that the hardware is available.
class Ham : public Kiv::Typed<Ham> {
 public:
  static Orba::Ptr<Ham> HamIs(Orba::Ptr<Hardware::Mdio::Bus> const& bus0);

  // The bus selected by the lowest set bit (bus 0 when no bit is set).
  Orba::Ptr<Hardware::Mdio::Bus> bus(HalMdioAccel::BusBits bits) const;
  void busIs(unsigned index, Orba::Ptr<Hardware::Mdio::Bus> const& bus);

  static Kiv::TypeDesc const& typeDesc();

 private:
  Ham() = default;
  std::vector<Orba::Ptr<Hardware::Mdio::Bus>> buses_;
};

}  // namespace Fru
