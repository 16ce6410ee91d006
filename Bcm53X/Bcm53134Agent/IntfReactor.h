#pragma once

#include "platform/interface/EthPhyIntfConfig.h"
#include "platform/kiv/Type.h"
#include "platform/kiv/Typed.h"

namespace Bcm53134::Agent {

class Bcm53134Sm;

// Mirrors one interface configuration's enabled state into the state
// machine's intfState, at creation and at every change of that state.
class IntfReactor : public Kiv::Typed<IntfReactor> {
 public:
  // Constructs the reactor and switches its notifications on.
  static Orba::Ptr<IntfReactor> IntfReactorIs(Orba::Ptr<Interface::EthPhyIntfConfig> const& config,
                                              Orba::Ptr<Bcm53134Sm> const& agent);

  Orba::Ptr<Interface::EthPhyIntfConfig> const& config() const noexcept { return config_; }
  // The configuration's interface id; the default id without a configuration.
  Lanx::IntfId name() const;
  Orba::Ptr<Bcm53134Sm> agent() const { return agent_; }
  Orba::Ptr<Bcm53134Sm const> kivagentConst() const { return agent_; }

  void handleState();
  void hasNotificationActiveIs(bool on);
  void kivDoZombieReactors(bool on);

  static Kiv::TypeDesc const& typeDesc();

 private:
  IntfReactor(Orba::Ptr<Interface::EthPhyIntfConfig> const& config,
              Orba::Ptr<Bcm53134Sm> const& agent);
  ~IntfReactor() override;
  void configDispatch(Kiv::AttributeId id, void const* key);

  Orba::Ptr<Interface::EthPhyIntfConfig> config_;
  Orba::Ptr<Bcm53134Sm> agent_;
  Orba::SubscriberSlot configSlot_;
};

}  // namespace Bcm53134::Agent
