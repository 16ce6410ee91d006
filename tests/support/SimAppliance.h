#pragma once

#include <memory>

#include "Bcm53X/Bcm53134Agent/Bcm53134Sm.h"
#include "Bcm53X/Bcm53134Agent/IntfSliceReactor.h"
#include "Bcm53X/Bcm53134Agent/Root.h"
#include "Bcm53X/CpuIfMgr/TestCpuIfMgr.h"
#include "platform/bus/sim/SimBcm53134.h"
#include "platform/stratum/EntityManager.h"
#include "tests/support/Loop.h"

namespace TestSupport {

// An appliance on the simulated chip, served by the in-process state
// database, in virtual time: the hardware config (ham over the simulated
// chip once hardwareIs(true)), the status entity and one slice "1" of
// interface configurations. Management interfaces are added with
// mgmtInterfaceIs; their interface configurations are enabled.
class SimAppliance {
 public:
  using Sm = Bcm53134::Agent::Bcm53134Sm;
  using State = Sm::State;

  explicit SimAppliance(bool hardware = true) {
    resetLoop();
    em = Stratum::EntityManager::EntityManagerIs();
    Stratum::EntityManager::localIs(em);
    config = Hardware::Bcm53134::Config::ConfigIs();
    status = Hardware::Bcm53134::Status::StatusIs();
    sliceDir = Kiv::Dir::DirIs("slice");
    slice = Interface::EthPhyIntfConfigDir::EthPhyIntfConfigDirIs("1");
    sliceDir->entityIs("1", slice);
    chip = Hardware::Mdio::Sim::Bcm53134Chip::Bcm53134ChipIs();
    ham = Fru::Ham::HamIs(chip);
    em->entityIs(Cell::path("hardware/bcm53134/config", 0), config);
    em->entityIs(Cell::path("hardware/bcm53134/status", 0), status);
    em->entityIs("interface/config/eth/phy/slice", sliceDir);
    em->mountProfileIs("Bcm53134Agent", {Cell::path("hardware/bcm53134/config", 0),
                                         Cell::path("hardware/bcm53134/status", 0),
                                         "interface/config/eth/phy/slice"});
    if (hardware)
      config->hamIs(ham);
  }

  ~SimAppliance() {
    root = nullptr;
    Stratum::EntityManager::localIs(nullptr);
    resetLoop();
  }

  // Adds management interface `key` with its enabled interface configuration
  // and offers a link on its external port.
  void mgmtInterfaceIs(Hardware::Bcm53134::PortId key, char const* intf, char const* cpuName,
                       Hardware::Bcm53134::PortId ext, Hardware::Bcm53134::PortId in) {
    config->mgmtInterfaceIs(key, Hardware::Bcm53134::MgmtInterface::MgmtInterfaceIs(
                                     Lanx::IntfId(intf), cpuName, ext, in));
    if (!slice->intfConfig(Lanx::IntfId(intf))) {
      slice->intfConfigIs(Interface::EthPhyIntfConfig::EthPhyIntfConfigIs(
          Lanx::IntfId(intf), Interface::IntfEnabledState::enabled));
    }
    chip->linkIs(ext, true);
  }

  // Creates the root, initialises it and delivers the mounts.
  void start() {
    root = Bcm53134::Agent::rootFactory("Bcm53134Agent");
    root->doInit();
    runUntilIdle();
  }

  Sm& sm() const { return *root->bcm53134Sm(); }

  // Replaces the installed manager with a simulated one (before any link
  // pass, so no netlink request is ever made on the host).
  Orba::Ptr<Bcm53134::Agent::TestCpuIfMgr> useTestCpuIfMgr() {
    testMgr = Bcm53134::Agent::testCpuIfMgrFactory();
    sm().cpuIfMgrIs(testMgr);
    return testMgr;
  }

  // Runs until the machine is idle again (at most `within` seconds).
  bool runUntilIdleState(Kiv::Seconds within = 10) {
    return runUntil(
        [this] {
          return root->bcm53134Sm()->state() == State::idle &&
                 !root->bcm53134Sm()->registerSm()->busy() &&
                 root->bcm53134Sm()->registerConfig()->requestCount() == 0;
        },
        within);
  }
  bool runUntil(std::function<bool()> const& pred, Kiv::Seconds within = 10) {
    return TestSupport::runUntil(pred, within);
  }
  // Runs one whole cycle: from the next poll until idle again.
  bool runCycle() {
    if (!runUntil([this] { return sm().state() != State::idle; }, sm().pollPeriod() + 1)) {
      return false;
    }
    return runUntilIdleState();
  }

  Hardware::Bcm53134::LinkStatus link(Hardware::Bcm53134::PortId port) const {
    auto p = status->port(port);
    return p ? p->linkStatus() : Hardware::Bcm53134::LinkStatus::linkDown;
  }
  std::uint16_t extCtrl(Hardware::Mdio::PortAddr port) const {
    return chip->reg(port, Hardware::Mdio::Sim::Bcm53134Chip::kExtCtrl);
  }
  std::uint16_t auxCtrl(Hardware::Mdio::PortAddr port) const {
    return chip->reg(port, Hardware::Mdio::Sim::Bcm53134Chip::kAuxCtrl);
  }

  Orba::Ptr<Stratum::EntityManager> em;
  Orba::Ptr<Hardware::Bcm53134::Config> config;
  Orba::Ptr<Hardware::Bcm53134::Status> status;
  Orba::Ptr<Kiv::Dir> sliceDir;
  Orba::Ptr<Interface::EthPhyIntfConfigDir> slice;
  Orba::Ptr<Hardware::Mdio::Sim::Bcm53134Chip> chip;
  Orba::Ptr<Fru::Ham> ham;
  Orba::Ptr<Bcm53134::Agent::Root> root;
  Orba::Ptr<Bcm53134::Agent::TestCpuIfMgr> testMgr;
};

}  // namespace TestSupport
