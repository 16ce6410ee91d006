#include "Bcm53X/Bcm53134Agent/IntfSliceReactor.h"

#include "Bcm53X/Bcm53134Agent/AgentTrace.h"
#include "Bcm53X/Bcm53134Agent/Bcm53134Sm.h"
#include "platform/kiv/Errors.h"
#include "platform/kiv/TraceOp.h"

namespace Bcm53134::Agent {

Orba::Ptr<IntfSliceReactor> IntfSliceReactor::IntfSliceReactorIs(
    Orba::Ptr<Interface::EthPhyIntfConfigDir> const& configDir,
    Orba::Ptr<Bcm53134Sm> const& agent) {
  auto r = Orba::Ptr<IntfSliceReactor>::adopt(new IntfSliceReactor(configDir, agent));
  r->hasNotificationActiveIs(true);
  return r;
}

IntfSliceReactor::IntfSliceReactor(Orba::Ptr<Interface::EthPhyIntfConfigDir> const& configDir,
                                   Orba::Ptr<Bcm53134Sm> const& agent)
    : configDir_(configDir), agent_(agent) {
  configDirSlot_.callbackIs(
      [this](Kiv::AttributeId id, void const* key) { configDirDispatch(id, key); });
  if (configDir_)
    configDir_->publisher()->subscriberAdd(configDirSlot_);
  try {
    handleConfigDir();
  } catch (...) {
    // The subscription made above must not outlive a failed construction.
    configDirSlot_.unsubscribe();
    throw;
  }
}

IntfSliceReactor::~IntfSliceReactor() {
  hasNotificationActiveIs(false);
  kivDoZombieReactors(true);
  configDirSlot_.unsubscribe();
  intfReactorDelAll();
  configDir_ = nullptr;
  agent_ = nullptr;
}

Orba::String IntfSliceReactor::name() const {
  return configDir_ ? configDir_->name() : Orba::String();
}

void IntfSliceReactor::configDirDispatch(Kiv::AttributeId id, void const* key) {
  if (zombie() || id != Interface::EthPhyIntfConfigDir::intfConfigAttrId() || !key)
    return;
  handleConfigDir(*static_cast<Lanx::IntfId const*>(key));
}

void IntfSliceReactor::handleConfigDir() {
  if (!configDir_)
    return;
  std::vector<Lanx::IntfId> ids;
  for (auto const& [id, config] : configDir_->intfConfigs())
    ids.push_back(id);
  for (auto const& id : ids)
    handleConfigDir(id);
}

void IntfSliceReactor::handleConfigDir(Lanx::IntfId const& intfId) {
  auto config = configDir_ ? configDir_->intfConfig(intfId) : nullptr;
  if (config) {
    KIV_TRACE(trace(), 1) << Kiv::traceOp(this, "handleConfigDir")
                          << ": adding interface reactor for interface " << intfId;
    // A configuration replaced under the same id replaces its reactor, which
    // rewrites the interface's intfState entry from the new configuration.
    if (auto existing = intfReactor(intfId); existing && existing->config() != config) {
      intfReactorDel(intfId);
    }
    intfReactorIs(config, agent_);
  } else {
    KIV_TRACE(trace(), 1) << Kiv::traceOp(this, "handleConfigDir")
                          << ": removing interface reactor for interface " << intfId;
    intfReactorDel(intfId);
    if (agent_)
      agent_->intfStateDel(intfId);
  }
}

Orba::Ptr<IntfReactor> IntfSliceReactor::intfReactor(Lanx::IntfId const& id) const {
  auto it = intfReactor_.find(id);
  return it == intfReactor_.end() ? Orba::Ptr<IntfReactor>() : it->second;
}

Orba::Ptr<IntfReactor> IntfSliceReactor::intfReactorIs(
    Orba::Ptr<Interface::EthPhyIntfConfig> const& config, Orba::Ptr<Bcm53134Sm> const& agent) {
  if (!config)
    Kiv::throwMutatorNullArgument("config", typeDesc().name, "intfReactor");
  auto const& key = config->intfId();
  if (auto existing = intfReactor(key)) {
    if (existing->config() != config) {
      Kiv::throwMutatorReinstantiating(IntfReactor::typeDesc().name, "config", key.name(),
                                       "another configuration of " + key.name());
    }
    if (existing->agent() != agent) {
      Kiv::throwMutatorReinstantiating(IntfReactor::typeDesc().name, "agent",
                                       "another state machine", "this state machine");
    }
    return existing;
  }
  auto reactor = IntfReactor::IntfReactorIs(config, agent);
  intfReactor_.emplace(key, reactor);
  return reactor;
}

Orba::Ptr<IntfReactor> IntfSliceReactor::intfReactorDel(Lanx::IntfId const& id) {
  auto it = intfReactor_.find(id);
  if (it == intfReactor_.end())
    return {};
  auto old = std::move(it->second);
  intfReactor_.erase(it);
  // A removed reactor stops reacting even while a caller still holds it.
  old->hasNotificationActiveIs(false);
  return old;
}

void IntfSliceReactor::intfReactorDelAll() {
  auto reactors = std::move(intfReactor_);
  intfReactor_.clear();
}

void IntfSliceReactor::hasNotificationActiveIs(bool on) {
  if (on == notificationActive())
    return;
  notificationActiveFlagIs(on);
  if (configDir_) {
    if (on && !configDirSlot_.subscribed())
      configDir_->publisher()->subscriberAdd(configDirSlot_);
    if (!on && configDirSlot_.subscribed())
      configDirSlot_.unsubscribe();
  }
  for (auto const& [id, reactor] : intfReactor_)
    reactor->hasNotificationActiveIs(on);
}

void IntfSliceReactor::kivDoZombieReactors(bool on) {
  if (on != zombie())
    zombieFlagIs(on);
}

}  // namespace Bcm53134::Agent
