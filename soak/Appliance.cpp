#include "soak/Appliance.h"

#include <cstdio>

namespace Soak {

using Interface::IntfEnabledState;
using State = Bcm53134::Agent::Bcm53134Sm::State;

std::string regName(Reg r) {
  return std::string(r.reg == Chip::kExtCtrl ? "extended" : "auxiliary") + " control of port " +
         std::to_string(r.port);
}

std::string hex(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

char const* linkName(bool up) {
  return up ? "up" : "down";
}

void Appliance::build() {
  app_ = std::make_unique<TestSupport::SimAppliance>();
  ham = app_->ham;
  // A link partner sees the link drop while a port's transmitter is off.
  app_->chip->txDisableCouplingIs(true);
  dirs[0] = app_->slice;
  dirs[1] = Interface::EthPhyIntfConfigDir::EthPhyIntfConfigDirIs(kSlices[1]);
  app_->sliceDir->entityIs(kSlices[1], dirs[1]);
  for (std::size_t n = 0; n < kIntfs.size(); ++n) {
    auto const& i = kIntfs[n];
    app_->config->mgmtInterfaceIs(i.key, Hardware::Bcm53134::MgmtInterface::MgmtInterfaceIs(
                                             Lanx::IntfId(i.id), i.cpu, i.ext, i.in));
    configs[n] = Interface::EthPhyIntfConfig::EthPhyIntfConfigIs(Lanx::IntfId(i.id),
                                                                 IntfEnabledState::enabled);
    dirs[i.slice]->intfConfigIs(configs[n]);
    mirror[i.id] = IntfEnabledState::enabled;
    app_->chip->linkIs(i.ext, true);
  }
  for (PortId p = 0; p < kPorts; ++p) {
    tainted.insert({p, Chip::kExtCtrl});
    tainted.insert({p, Chip::kAuxCtrl});
  }
}

void Appliance::start() {
  app_->start();
  cpu_.attach(*app_);
}

void Appliance::tearDown() {
  for (auto& c : configs)
    c = nullptr;
  for (auto& d : dirs)
    d = nullptr;
  ham = nullptr;
  cpu_.detach();
  app_.reset();
}

bool Appliance::idle() const {
  return sm().state() == State::idle;
}

bool Appliance::outstanding() const {
  auto const& rs = sm().registerSm();
  return rs && (rs->busy() || sm().registerConfig()->requestCount() > 0);
}

}  // namespace Soak
