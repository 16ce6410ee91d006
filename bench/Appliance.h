#pragma once

#include <cstdint>
#include <functional>

#include "Bcm53X/Bcm53134Agent/Bcm53134Sm.h"
#include "Bcm53X/Bcm53134Agent/Root.h"
#include "Bcm53X/CpuIfMgr/TestCpuIfMgr.h"
#include "platform/hardware/Ham.h"
#include "platform/interface/EthPhyIntfConfig.h"
#include "platform/mdio/sim/SimBcm53134.h"
#include "platform/stratum/EntityManager.h"

namespace Bench {

// An appliance with n management interfaces on the simulated chip, served by
// the in-process state database, in virtual time, with the simulated CPU
// interface manager (no netdevice is touched). Interface k (0-based) is
// "Management<k+1>" on external port (k+1) mod 8 and internal port (k+5) mod
// 8, with CPU netdevice "mgmt<k+1>" when k is even and none when k is odd:
// n = 2 is the shipped example appliance (1/5 with mgmt1, 2/6 without).
// With eight interfaces every port is the external port of one interface and
// the internal port of another, as the chip has eight PHYs.
class Appliance {
 public:
  using Chip = Hardware::Mdio::Sim::Bcm53134Chip;
  using Sm = Bcm53134::Agent::Bcm53134Sm;

  explicit Appliance(unsigned interfaces);
  ~Appliance();
  Appliance(Appliance const&) = delete;
  Appliance& operator=(Appliance const&) = delete;

  static std::uint8_t externalPort(unsigned k) { return static_cast<std::uint8_t>((k + 1) % 8); }
  static std::uint8_t internalPort(unsigned k) { return static_cast<std::uint8_t>((k + 5) % 8); }

  Sm& sm() const { return *root->bcm53134Sm(); }
  bool idle() const;
  // Runs from the next poll until the machine is idle again; false when no
  // cycle started within a poll period or did not end within ten seconds.
  bool runCycle();
  // Runs the start-up and the cycles that follow it until one writes
  // nothing: the steady state.
  bool settle();

  Orba::Ptr<Stratum::EntityManager> em;
  Orba::Ptr<Hardware::Bcm53134::Config> config;
  Orba::Ptr<Hardware::Bcm53134::Status> status;
  Orba::Ptr<Kiv::Dir> sliceDir;
  Orba::Ptr<Interface::EthPhyIntfConfigDir> slice;
  Orba::Ptr<Chip> chip;
  Orba::Ptr<Fru::Ham> ham;
  Orba::Ptr<Bcm53134::Agent::Root> root;
  Orba::Ptr<Bcm53134::Agent::TestCpuIfMgr> cpuMgr;

 private:
  std::function<bool()> started_, idle_;
};

}  // namespace Bench
