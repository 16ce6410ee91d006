#include "bench/Appliance.h"

#include <string>

#include "platform/kiv/Dir.h"
#include "platform/kiv/EventLoop.h"

namespace Bench {

namespace {
Kiv::EventLoop& loop() {
  return Kiv::EventLoop::instance();
}
}  // namespace

Appliance::Appliance(unsigned interfaces) {
  loop().resetForTest(0);
  em = Stratum::EntityManager::EntityManagerIs();
  Stratum::EntityManager::localIs(em);
  config = Hardware::Bcm53134::Config::ConfigIs();
  status = Hardware::Bcm53134::Status::StatusIs();
  sliceDir = Kiv::Dir::DirIs("slice");
  slice = Interface::EthPhyIntfConfigDir::EthPhyIntfConfigDirIs("1");
  sliceDir->entityIs("1", slice);
  chip = Chip::Bcm53134ChipIs();
  ham = Fru::Ham::HamIs(chip);
  em->entityIs(Cell::path("hardware/bcm53134/config", 0), config);
  em->entityIs(Cell::path("hardware/bcm53134/status", 0), status);
  em->entityIs("interface/config/eth/phy/slice", sliceDir);
  em->mountProfileIs("Bcm53134Agent",
                     {Cell::path("hardware/bcm53134/config", 0),
                      Cell::path("hardware/bcm53134/status", 0), "interface/config/eth/phy/slice"});
  config->hamIs(ham);
  for (unsigned k = 0; k < interfaces; ++k) {
    std::string const intf = "Management" + std::to_string(k + 1);
    std::string const cpu = k % 2 == 0 ? "mgmt" + std::to_string(k + 1) : "";
    config->mgmtInterfaceIs(static_cast<Hardware::Bcm53134::PortId>(k),
                            Hardware::Bcm53134::MgmtInterface::MgmtInterfaceIs(
                                Lanx::IntfId(intf), cpu, externalPort(k), internalPort(k)));
    slice->intfConfigIs(Interface::EthPhyIntfConfig::EthPhyIntfConfigIs(
        Lanx::IntfId(intf), Interface::IntfEnabledState::enabled));
    chip->linkIs(externalPort(k), true);
  }
  started_ = [this] { return sm().state() != Sm::State::idle; };
  idle_ = [this] { return idle(); };

  root = Bcm53134::Agent::rootFactory("Bcm53134Agent");
  root->doInit();
  loop().runUntilIdle();
  // The simulated manager takes the netlink manager's place before any link
  // is processed, so no netlink request is ever made.
  cpuMgr = Bcm53134::Agent::testCpuIfMgrFactory();
  sm().cpuIfMgrIs(cpuMgr);
}

Appliance::~Appliance() {
  root = nullptr;
  Stratum::EntityManager::localIs(nullptr);
  loop().resetForTest(0);
}

bool Appliance::idle() const {
  auto const& m = *root->bcm53134Sm();
  return m.state() == Sm::State::idle && !m.registerSm()->busy() &&
         m.registerConfig()->requestCount() == 0;
}

bool Appliance::runCycle() {
  if (!loop().runUntil(started_, loop().now() + sm().pollPeriod() + 1))
    return false;
  return loop().runUntil(idle_, loop().now() + 10);
}

bool Appliance::settle() {
  if (!loop().runUntil(idle_, loop().now() + 10))
    return false;
  for (int i = 0; i < 10; ++i) {
    auto const writes = chip->registerWrites();
    if (!runCycle())
      return false;
    if (chip->registerWrites() == writes && !sm().repollingNeeded())
      return true;
  }
  return false;
}

}  // namespace Bench
