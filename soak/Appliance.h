#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "soak/Soak.h"
#include "tests/support/SimAppliance.h"

// The soak's appliance and what the soak knows of it, shared by the faults
// that disturb it (Faults) and the invariants that judge the agent on it
// (Invariants).
namespace Soak {

using Chip = Hardware::Mdio::Sim::Bcm53134Chip;
using Hardware::Bcm53134::PortId;

// The appliance: four management interfaces, external ports 0 to 3 and
// internal ports 4 to 7. Management1 and Management2 have CPU netdevices and
// their interface configurations in slice "1"; Management3 and Management4
// have none and theirs are in slice "2". Every interface owns its ports, so
// each register has one interface that decides its configured value.
struct IntfSpec {
  PortId key;
  char const* id;
  char const* cpu;
  PortId ext;
  PortId in;
  unsigned slice;
};
constexpr std::array<IntfSpec, 4> kIntfs{{
    {0, "Management1", "mgmt1", 0, 4, 0},
    {1, "Management2", "mgmt2", 1, 5, 0},
    {2, "Management3", "", 2, 6, 1},
    {3, "Management4", "", 3, 7, 1},
}};
constexpr std::array<char const*, 2> kSlices{"1", "2"};
constexpr unsigned kPorts = 8;

// One managed register on the chip: a port and its MII register number.
struct Reg {
  PortId port;
  std::uint8_t reg;
  auto operator<=>(Reg const&) const = default;
};
std::string regName(Reg r);

std::string hex(unsigned v);
char const* linkName(bool up);

class Appliance {
 public:
  explicit Appliance(CpuSide& cpu) : cpu_(cpu) {}

  // Makes the appliance with every interface configured and enabled and
  // every external link up; the agent is not started yet.
  void build();
  // Starts the agent and hands it to the CPU side: the agent's first poll
  // runs inside the machine's constructor, and its first link pass comes
  // only after the registers have been read, in virtual time.
  void start();
  void tearDown();

  CpuSide& cpu() const { return cpu_; }
  TestSupport::SimAppliance& app() const { return *app_; }
  Bcm53134::Agent::Bcm53134Sm& sm() const { return app_->sm(); }
  bool idle() const;
  // A register transaction is queued or in the register service.
  bool outstanding() const;
  bool configured(IntfSpec const& i) const {
    return static_cast<bool>(app_->config->mgmtInterface(i.key));
  }
  bool slicePresent(unsigned s) const {
    return app_->sliceDir->entityPtr(kSlices[s]) == Orba::Ptr<Orba::Node>(dirs[s]);
  }

  Orba::Ptr<Fru::Ham> ham;  // the ham the config holds when present
  std::array<Orba::Ptr<Interface::EthPhyIntfConfigDir>, kSlices.size()> dirs;
  std::array<Orba::Ptr<Interface::EthPhyIntfConfig>, kIntfs.size()> configs;
  std::array<bool, kPorts> miiFailing{};
  // Registers whose content the agent may not know: changed behind its back
  // or read through an injected value, and not read since in a cycle
  // without faults. All of them are unknown at power-on.
  std::set<Reg> tainted;
  // The enabled states the agent must hold, kept by the rules of the
  // interface reactors: a slice's reactor writes the states of its
  // configurations when it is made and on every change, and removes the
  // state of a configuration removed from it; a removed slice has no reactor,
  // so changes inside it go unseen and its states stay.
  std::map<std::string, Interface::IntfEnabledState> mirror;

 private:
  CpuSide& cpu_;
  std::unique_ptr<TestSupport::SimAppliance> app_;
};

}  // namespace Soak
