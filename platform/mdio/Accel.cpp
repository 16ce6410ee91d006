#include "platform/mdio/Accel.h"

namespace HalMdioAccel {

Orba::Ptr<Accel> Accel::AccelIs(Orba::Ptr<Fru::Ham const> const& ham, BusBits busBits) {
  return Orba::Ptr<Accel>::adopt(new Accel(ham, busBits));
}

Accel::Accel(Orba::Ptr<Fru::Ham const> ham, BusBits busBits)
    : ham_(std::move(ham)), busBits_(busBits), bus_(ham_ ? ham_->bus(busBits) : nullptr) {}

Hardware::Mdio::AccessResult Accel::read(Hardware::Mdio::PortAddr phy, std::uint8_t reg) {
  if (!bus_)
    return {0, "no MDIO bus selected"};
  return bus_->read(phy, reg);
}

Hardware::Mdio::AccessResult Accel::write(Hardware::Mdio::PortAddr phy, std::uint8_t reg,
                                          std::uint16_t value) {
  if (!bus_)
    return {0, "no MDIO bus selected"};
  return bus_->write(phy, reg, value);
}

Kiv::Seconds Accel::accessTime() const {
  return bus_ ? bus_->accessTime() : Hardware::Mdio::Bus::kFrameTime;
}

Kiv::TypeDesc const& Accel::typeDesc() {
  static Kiv::TypeDesc const d = Kiv::entityType("HalMdioAccel::Accel");
  return d;
}

}  // namespace HalMdioAccel
