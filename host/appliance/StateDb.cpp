#include "host/appliance/StateDb.h"

#include <stdexcept>

#include "platform/bus/linux/MiiIoctlBus.h"

namespace Host {

using Hardware::Bcm53134::MgmtInterface;

std::string StateDb::configPath() {
  return Cell::path("hardware/bcm53134/config", 0);
}

std::string StateDb::statusPath() {
  return Cell::path("hardware/bcm53134/status", 0);
}

namespace {

Orba::Ptr<Hardware::Mdio::Bus> describedBus(ApplianceDesc const& a) {
  if (a.mdio == MdioTransport::miiIoctl)
    return Hardware::Mdio::Linux::MiiIoctlBus::MiiIoctlBusIs(a.mdioNetdev);
  auto chip = Hardware::Mdio::Sim::Bcm53134Chip::Bcm53134ChipIs();
  chip->txDisableCouplingIs(a.txDisableCoupling);
  if (a.accessTime > 0)
    chip->accessTimeIs(a.accessTime);
  for (auto const& [port, up] : a.links)
    chip->linkIs(static_cast<Hardware::Mdio::PortAddr>(port), up);
  return chip;
}

// The switch's bus as bus `index` of a new access handle, the one the
// configuration's bus bits select.
Orba::Ptr<Fru::Ham> hamOn(Orba::Ptr<Hardware::Mdio::Bus> const& bus, unsigned index) {
  auto ham = Fru::Ham::HamIs(index == 0 ? bus : Orba::Ptr<Hardware::Mdio::Bus>());
  if (index != 0)
    ham->busIs(index, bus);
  return ham;
}

}  // namespace

StateDb::StateDb(ApplianceDesc const& a, Orba::Ptr<Hardware::Mdio::Bus> bus)
    : em_(Stratum::EntityManager::EntityManagerIs()),
      recorder_(Hardware::Mdio::Record::RecordingBus::RecordingBusIs(bus ? std::move(bus)
                                                                         : describedBus(a))),
      bus_(recorder_),
      chip_(Orba::ptrCast<Hardware::Mdio::Sim::Bcm53134Chip>(recorder_->innerPtr())),
      busIndex_(a.bus),
      ham_(hamOn(bus_, busIndex_)),
      config_(Hardware::Bcm53134::Config::ConfigIs()),
      status_(Hardware::Bcm53134::Status::StatusIs()),
      sliceDir_(Kiv::Dir::DirIs("slice")) {
  config_->busBitsIs(HalMdioAccel::BusBits(1) << a.bus);
  for (auto const& m : a.mgmtInterfaces)
    mgmtInterfaceAdd(m);
  if (a.ham)
    config_->hamIs(ham_);
  for (auto const& s : a.slices)
    sliceAdd(s);

  em_->entityIs(configPath(), config_);
  em_->entityIs(statusPath(), status_);
  em_->entityIs(kSlicePath, sliceDir_);
  em_->mountProfileIs(kMountProfile, {configPath(), statusPath(), kSlicePath});
  Stratum::EntityManager::localIs(em_);
}

StateDb::~StateDb() {
  if (Stratum::EntityManager::local() == em_)
    Stratum::EntityManager::localIs({});
}

Hardware::Mdio::Sim::Bcm53134Chip& StateDb::chip() const {
  if (!chip_) {
    throw std::runtime_error("there is no simulated chip: the MDIO bus is " + bus_->description());
  }
  return *chip_;
}

void StateDb::hamPresentIs(bool present) {
  config_->hamIs(present ? Orba::Ptr<Fru::Ham const>(ham_) : Orba::Ptr<Fru::Ham const>());
}

void StateDb::hamReplace() {
  ham_ = hamOn(bus_, busIndex_);
  config_->hamIs(ham_);
}

std::uint8_t StateDb::mgmtInterfaceAdd(MgmtIntfDesc const& d, std::optional<std::uint8_t> at) {
  unsigned key = at ? *at : 0;
  while (!at && key < kMaxMgmtInterfaces &&
         config_->mgmtInterface(static_cast<Hardware::Bcm53134::PortId>(key)))
    ++key;
  if (key == kMaxMgmtInterfaces) {
    throw std::runtime_error("at most " + std::to_string(kMaxMgmtInterfaces) +
                             " management interfaces");
  }
  auto k = static_cast<Hardware::Bcm53134::PortId>(key);
  config_->mgmtInterfaceIs(
      k, MgmtInterface::MgmtInterfaceIs(Lanx::IntfId(d.intfId), d.cpuInterface,
                                        static_cast<Hardware::Bcm53134::PortId>(d.externalPort),
                                        static_cast<Hardware::Bcm53134::PortId>(d.internalPort)));
  return k;
}

bool StateDb::mgmtInterfaceDel(std::string const& intfId) {
  for (auto const& [key, m] : config_->mgmtInterfaces()) {
    if (m->intfId().name() == intfId) {
      config_->mgmtInterfaceDel(key);
      return true;
    }
  }
  return false;
}

std::optional<std::uint8_t> StateDb::mgmtInterfaceKey(std::string const& intfId) const {
  for (auto const& [key, m] : config_->mgmtInterfaces()) {
    if (m->intfId().name() == intfId)
      return key;
  }
  return std::nullopt;
}

std::vector<MgmtIntfDesc> StateDb::mgmtInterfaces() const {
  std::vector<MgmtIntfDesc> r;
  for (auto const& [key, m] : config_->mgmtInterfaces())
    r.push_back({m->intfId().name(), m->cpuIntfName(), m->externalPort(), m->internalPort()});
  return r;
}

Orba::Ptr<Interface::EthPhyIntfConfigDir> StateDb::slice(std::string const& name) const {
  return Orba::ptrCast<Interface::EthPhyIntfConfigDir>(sliceDir_->entityPtr(name));
}

std::vector<SliceDesc> StateDb::slices() const {
  std::vector<SliceDesc> r;
  for (auto const& [name, node] : sliceDir_->entityPtrIteratorConst()) {
    auto dir = Orba::ptrCast<Interface::EthPhyIntfConfigDir>(node);
    if (!dir)
      continue;
    SliceDesc s{std::string(dir->name()), {}};
    for (auto const& [id, c] : dir->intfConfigs())
      s.interfaces.push_back({id.name(), c->enabledState()});
    r.push_back(std::move(s));
  }
  return r;
}

bool StateDb::sliceAdd(SliceDesc const& s) {
  if (sliceDir_->entityPtrHas(s.name))
    return false;
  auto dir = Interface::EthPhyIntfConfigDir::EthPhyIntfConfigDirIs(s.name);
  for (auto const& i : s.interfaces) {
    dir->intfConfigIs(
        Interface::EthPhyIntfConfig::EthPhyIntfConfigIs(Lanx::IntfId(i.intfId), i.state));
  }
  sliceDir_->entityIs(s.name, dir);
  return true;
}

bool StateDb::sliceDel(std::string const& name) {
  return static_cast<bool>(sliceDir_->entityDel(name));
}

bool StateDb::intfConfigAdd(std::string const& sliceName, IntfConfigDesc const& d) {
  auto dir = slice(sliceName);
  if (!dir || dir->intfConfig(Lanx::IntfId(d.intfId)))
    return false;
  dir->intfConfigIs(
      Interface::EthPhyIntfConfig::EthPhyIntfConfigIs(Lanx::IntfId(d.intfId), d.state));
  return true;
}

bool StateDb::intfConfigDel(std::string const& sliceName, std::string const& intfId) {
  auto dir = slice(sliceName);
  return dir && dir->intfConfigDel(Lanx::IntfId(intfId));
}

bool StateDb::enabledStateIs(std::string const& intfId, Interface::IntfEnabledState s) {
  for (auto const& [name, node] : sliceDir_->entityPtrIteratorConst()) {
    auto dir = Orba::ptrCast<Interface::EthPhyIntfConfigDir>(node);
    if (auto c = dir ? dir->intfConfig(Lanx::IntfId(intfId)) : nullptr) {
      c->enabledStateIs(s);
      return true;
    }
  }
  return false;
}

bool StateDb::enabledStateIs(std::string const& sliceName, std::string const& intfId,
                             Interface::IntfEnabledState s) {
  auto dir = slice(sliceName);
  auto c = dir ? dir->intfConfig(Lanx::IntfId(intfId)) : nullptr;
  if (c)
    c->enabledStateIs(s);
  return static_cast<bool>(c);
}

std::optional<Interface::IntfEnabledState> StateDb::enabledState(std::string const& intfId) const {
  for (auto const& [name, node] : sliceDir_->entityPtrIteratorConst()) {
    auto dir = Orba::ptrCast<Interface::EthPhyIntfConfigDir>(node);
    if (auto c = dir ? dir->intfConfig(Lanx::IntfId(intfId)) : nullptr)
      return c->enabledState();
  }
  return std::nullopt;
}

}  // namespace Host
