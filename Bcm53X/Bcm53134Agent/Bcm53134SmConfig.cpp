// Configuration and start-up: the reaction to the hardware config, the
// one-time initialisation of the register service objects, the port map and
// the CPU interface manager, slices as they come and go, and the start of
// each poll cycle.
#include "Bcm53X/Bcm53134Agent/AgentTrace.h"
#include "Bcm53X/Bcm53134Agent/Bcm53134Sm.h"
#include "Bcm53X/Bcm53134Agent/IntfSliceReactor.h"
#include "Bcm53X/CpuIfMgr/MacVlanCpuIfMgr.h"
#include "platform/kiv/Errors.h"
#include "platform/kiv/TraceOp.h"

namespace Bcm53134::Agent {

void Bcm53134Sm::handleConfig() {
  KIV_TRACE(trace(), 0) << Kiv::traceOp(this, "handleConfig");
  if (!hamPresent() || !clockPoll_ || !clockPoll_->notifier()) {
    KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "handleConfig") << ": not yet initialized";
    return;
  }
  if (!registerSm_)
    initialize();
  if (status_)
    status_->portDelAll();
  if (state_ != State::idle) {
    state_ = State::idle;
    handleState();
  }
  armPoll(Kiv::System::currentTime());
}

// Both are reachable through the attribute interface on a machine whose
// hardware config was never mounted; there is nothing to build then.
void Bcm53134Sm::initialize() {
  if (!config_) {
    KIV_TRACE(trace(), 0) << Kiv::traceOp(this, "initialize")
                          << ": no hardware config; nothing to initialize";
    return;
  }
  handleSlice();
  for (auto const& [key, intf] : config_->mgmtInterfaces()) {
    externalIdIs(intf->internalPort(), intf->externalPort());
  }
  createRegisterSm();
  cpuIfMgr_ = MacVlanCpuIfMgr::MacVlanCpuIfMgrIs();
}

void Bcm53134Sm::createRegisterSm() {
  KIV_TRACE(trace(), 0) << Kiv::traceOp(this, "createRegisterSm")
                        << ": creating register state machine";
  if (!config_) {
    KIV_TRACE(trace(), 0) << Kiv::traceOp(this, "createRegisterSm")
                          << ": no hardware config; no register state machine";
    return;
  }
  registerConfigIs("");
  registerStatusIs("");
  auto accel = HalMdioAccel::Accel::AccelIs(config_->ham(), config_->busBits());
  registerSmIs(accel, registerConfig_, registerStatus_);
}

Orba::Ptr<MdioRegLib::Config> Bcm53134Sm::registerConfigIs(Orba::String const& name) {
  if (registerConfig_ && registerConfig_->name() == name)
    return registerConfig_;
  registerConfig_ = MdioRegLib::Config::ConfigIs(name);
  return registerConfig_;
}

Orba::Ptr<MdioRegLib::Config> Bcm53134Sm::registerConfigDel() {
  return std::move(registerConfig_);
}

// The status subscription is made whether or not the machine's
// notifications are on: results must reach the machine that asked.
Orba::Ptr<MdioRegLib::Status> Bcm53134Sm::registerStatusIs(Orba::String const& name) {
  if (registerStatus_ && registerStatus_->name() == name)
    return registerStatus_;
  if (registerStatusSlot_.subscribed())
    registerStatusSlot_.unsubscribe();
  registerStatus_ = MdioRegLib::Status::StatusIs(name);
  if (!registerStatusSlot_.subscribed()) {
    registerStatus_->publisher()->subscriberAdd(registerStatusSlot_);
  }
  return registerStatus_;
}

Orba::Ptr<MdioRegLib::Status> Bcm53134Sm::registerStatusDel() {
  if (registerStatusSlot_.subscribed())
    registerStatusSlot_.unsubscribe();
  return std::move(registerStatus_);
}

Orba::Ptr<MdioRegLib::RegisterSm> Bcm53134Sm::registerSmIs(
    Orba::Ptr<HalMdioAccel::Accel> const& accel, Orba::Ptr<MdioRegLib::Config> const& config,
    Orba::Ptr<MdioRegLib::Status> const& status) {
  if (registerSm_ && registerSm_->accel() == accel && registerSm_->config() == config &&
      registerSm_->status() == status) {
    return registerSm_;
  }
  auto sm = MdioRegLib::RegisterSm::RegisterSmIs(accel, config, status);
  if (auto old = std::exchange(registerSm_, sm))
    old->hasNotificationActiveIs(false);
  sm->hasNotificationActiveIs(true);
  return sm;
}

Orba::Ptr<MdioRegLib::RegisterSm> Bcm53134Sm::registerSmDel() {
  auto old = std::move(registerSm_);
  if (old)
    old->hasNotificationActiveIs(false);
  return old;
}

// Slices

void Bcm53134Sm::handleSlice(Orba::String const& name) {
  auto entry = intfSliceDir_ ? intfSliceDir_->entityPtr(name) : Orba::Ptr<Orba::Node>();
  if (!entry) {
    KIV_TRACE(trace(), 0) << Kiv::traceOp(this, "handleSlice")
                          << ": removing slice reactor for slice " << name;
    intfSliceReactorDel(name);
    return;
  }
  KIV_TRACE(trace(), 0) << Kiv::traceOp(this, "handleSlice") << ": adding slice reactor for slice "
                        << name;
  auto configDir = Orba::ptrCast<Interface::EthPhyIntfConfigDir>(entry);
  if (!configDir) {
    // Only interface configuration directories belong in the slice
    // directory; anything else is reported and left alone, and a reactor
    // still watching the directory that entry replaced goes.
    KIV_TRACE(trace(), 0) << Kiv::traceOp(this, "handleSlice") << ": slice " << name
                          << " is not an interface configuration directory; skipped";
    intfSliceReactorDel(name);
    return;
  }
  if (configDir->name() != name) {
    KIV_TRACE(trace(), 0) << Kiv::traceOp(this, "handleSlice") << ": slice entry " << name
                          << " holds the directory of slice " << configDir->name() << "; skipped";
    return;
  }
  // A directory replaced under the same name replaces its reactor.
  if (auto existing = intfSliceReactor(name); existing && existing->configDir() != configDir) {
    intfSliceReactorDel(name);
  }
  intfSliceReactorIs(configDir, Orba::Ptr<Bcm53134Sm>(this));
}

void Bcm53134Sm::handleSlice() {
  if (!intfSliceDir_)
    return;
  std::vector<Orba::String> names;
  for (auto const& [name, entry] : intfSliceDir_->entityPtrIteratorConst())
    names.push_back(name);
  for (auto const& name : names)
    handleSlice(name);
}

Orba::Ptr<IntfSliceReactor> Bcm53134Sm::intfSliceReactor(Orba::String const& name) const {
  auto it = intfSliceReactor_.find(name);
  return it == intfSliceReactor_.end() ? Orba::Ptr<IntfSliceReactor>() : it->second;
}

Orba::Ptr<IntfSliceReactor> Bcm53134Sm::intfSliceReactorIs(
    Orba::Ptr<Interface::EthPhyIntfConfigDir> const& configDir,
    Orba::Ptr<Bcm53134Sm> const& agent) {
  if (!configDir) {
    Kiv::throwMutatorNullArgument("configDir", typeDesc().name, "intfSliceReactor");
  }
  auto const& key = configDir->name();
  if (auto existing = intfSliceReactor(key)) {
    if (existing->configDir() != configDir) {
      Kiv::throwMutatorReinstantiating(IntfSliceReactor::typeDesc().name, "configDir", key,
                                       configDir->name());
    }
    if (existing->agent() != agent) {
      Kiv::throwMutatorReinstantiating(IntfSliceReactor::typeDesc().name, "agent",
                                       "another state machine", "this state machine");
    }
    return existing;
  }
  auto reactor = IntfSliceReactor::IntfSliceReactorIs(configDir, agent);
  intfSliceReactor_.emplace(key, reactor);
  return reactor;
}

Orba::Ptr<IntfSliceReactor> Bcm53134Sm::intfSliceReactorDel(Orba::String const& name) {
  auto it = intfSliceReactor_.find(name);
  if (it == intfSliceReactor_.end())
    return {};
  auto old = std::move(it->second);
  intfSliceReactor_.erase(it);
  // A removed reactor stops reacting even while a caller still holds it.
  old->hasNotificationActiveIs(false);
  return old;
}

void Bcm53134Sm::intfSliceReactorDelAll() {
  // Taken out first: a reactor's teardown must not find itself still listed.
  auto reactors = std::move(intfSliceReactor_);
  intfSliceReactor_.clear();
  reactors.clear();
}

void Bcm53134Sm::start() {
  KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "start");
  if (repollingNeeded_) {
    registerValDelAll();
    repollingNeeded_ = false;
  }
  currentRegId_ = RegisterId(0, 0);
  stateIs(State::readingRegVals);
}

}  // namespace Bcm53134::Agent
