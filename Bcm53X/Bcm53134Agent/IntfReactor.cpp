#include "Bcm53X/Bcm53134Agent/IntfReactor.h"

#include "Bcm53X/Bcm53134Agent/AgentTrace.h"
#include "Bcm53X/Bcm53134Agent/Bcm53134Sm.h"
#include "platform/kiv/TraceOp.h"

namespace Bcm53134::Agent {

Orba::Ptr<IntfReactor> IntfReactor::IntfReactorIs(
    Orba::Ptr<Interface::EthPhyIntfConfig> const& config, Orba::Ptr<Bcm53134Sm> const& agent) {
  auto r = Orba::Ptr<IntfReactor>::adopt(new IntfReactor(config, agent));
  r->hasNotificationActiveIs(true);
  return r;
}

IntfReactor::IntfReactor(Orba::Ptr<Interface::EthPhyIntfConfig> const& config,
                         Orba::Ptr<Bcm53134Sm> const& agent)
    : config_(config), agent_(agent) {
  configSlot_.callbackIs([this](Kiv::AttributeId id, void const* key) { configDispatch(id, key); });
  if (config_)
    config_->publisher()->subscriberAdd(configSlot_);
  try {
    handleState();
  } catch (...) {
    // The subscription made above must not outlive a failed construction.
    configSlot_.unsubscribe();
    throw;
  }
}

IntfReactor::~IntfReactor() {
  hasNotificationActiveIs(false);
  kivDoZombieReactors(true);
  configSlot_.unsubscribe();
  config_ = nullptr;
  agent_ = nullptr;
}

Lanx::IntfId IntfReactor::name() const {
  return config_ ? config_->intfId() : Lanx::IntfId();
}

void IntfReactor::configDispatch(Kiv::AttributeId id, void const*) {
  if (zombie() || id != Interface::EthPhyIntfConfig::enabledStateAttrId())
    return;
  handleState();
}

void IntfReactor::handleState() {
  if (!config_)
    return;
  KIV_TRACE(trace(), 1) << Kiv::traceOp(this, "handleState") << ": interface " << config_->intfId()
                        << " enabled state: " << Interface::stringValue(config_->enabledState());
  if (agent_)
    agent_->intfStateIs(config_->intfId(), config_->enabledState());
}

void IntfReactor::hasNotificationActiveIs(bool on) {
  if (on == notificationActive())
    return;
  notificationActiveFlagIs(on);
  if (!config_)
    return;
  if (on && !configSlot_.subscribed())
    config_->publisher()->subscriberAdd(configSlot_);
  if (!on && configSlot_.subscribed())
    configSlot_.unsubscribe();
}

void IntfReactor::kivDoZombieReactors(bool on) {
  if (on != zombie())
    zombieFlagIs(on);
}

}  // namespace Bcm53134::Agent
