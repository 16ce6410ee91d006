#pragma once

#include <cstdint>
#include <string>

#include "platform/kiv/EventLoop.h"
#include "platform/orba/Node.h"

namespace Hardware::Mdio {

// A PHY address on the MDIO bus (0 to 31).
using PortAddr = std::uint8_t;

// The outcome of one clause-22 access: the register value read (0 for a
// write), and an error text that is empty on success.
struct AccessResult {
  std::uint16_t value = 0;
  std::string error;
  bool ok() const noexcept { return error.empty(); }
};

// The seam between the platform and the hardware: an MDIO bus offering
// clause-22 reads and writes of (PHY address, MII register) and nothing more.
// The simulated chip and real buses are siblings behind it, so the register
// service, the agent and the host run the same code on either.
class Bus : public Orba::Node {
 public:
  virtual AccessResult read(PortAddr phy, std::uint8_t reg) = 0;
  virtual AccessResult write(PortAddr phy, std::uint8_t reg, std::uint16_t value) = 0;
  // How long one access takes on this bus; the register service delivers a
  // result that long after it starts the access.
  virtual Kiv::Seconds accessTime() const { return kFrameTime; }
  // A short description for diagnostics, e.g. "simulated BCM53134".
  virtual std::string description() const = 0;

  // One clause-22 frame at 2.5 MHz MDC: 64 bits.
  static constexpr Kiv::Seconds kFrameTime = 25.6e-6;
};

}  // namespace Hardware::Mdio
