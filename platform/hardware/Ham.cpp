#include "platform/hardware/Ham.h"

#include <bit>

namespace Fru {

Orba::Ptr<Ham> Ham::HamIs(Orba::Ptr<Hardware::Mdio::Bus> const& bus0) {
  auto h = Orba::Ptr<Ham>::adopt(new Ham());
  h->busIs(0, bus0);
  return h;
}

Orba::Ptr<Hardware::Mdio::Bus> Ham::bus(HalMdioAccel::BusBits bits) const {
  unsigned index = bits == 0 ? 0u : static_cast<unsigned>(std::countr_zero(bits));
  return index < buses_.size() ? buses_[index] : Orba::Ptr<Hardware::Mdio::Bus>();
}

void Ham::busIs(unsigned index, Orba::Ptr<Hardware::Mdio::Bus> const& bus) {
  if (buses_.size() <= index)
    buses_.resize(index + 1);
  buses_[index] = bus;
}

Kiv::TypeDesc const& Ham::typeDesc() {
  static Kiv::TypeDesc const d = Kiv::entityType("Fru::Ham");
  return d;
}

}  // namespace Fru
