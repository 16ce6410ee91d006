#pragma once

#include <map>

#include "Bcm53X/Bcm53134Agent/IntfReactor.h"
#include "platform/kiv/Typed.h"

namespace Bcm53134::Agent {

// Watches one slice's interface configuration directory and keeps one
// interface reactor per configuration in it; a removed configuration loses
// its reactor and its intfState entry.
class IntfSliceReactor : public Kiv::Typed<IntfSliceReactor> {
 public:
  using IntfReactors = std::map<Lanx::IntfId, Orba::Ptr<IntfReactor>>;

  // Constructs the reactor and switches its notifications on.
  static Orba::Ptr<IntfSliceReactor> IntfSliceReactorIs(
      Orba::Ptr<Interface::EthPhyIntfConfigDir> const& configDir,
      Orba::Ptr<Bcm53134Sm> const& agent);

  Orba::Ptr<Interface::EthPhyIntfConfigDir> const& configDir() const noexcept { return configDir_; }
  // The directory's name; empty without a directory.
  Orba::String name() const;
  Orba::Ptr<Bcm53134Sm> agent() const { return agent_; }
  Orba::Ptr<Bcm53134Sm const> kivagentConst() const { return agent_; }

  Orba::Ptr<IntfReactor> intfReactor(Lanx::IntfId const& id) const;
  IntfReactors const& intfReactors() const noexcept { return intfReactor_; }
  Orba::Ptr<IntfReactor> intfReactorIs(Orba::Ptr<Interface::EthPhyIntfConfig> const& config,
                                       Orba::Ptr<Bcm53134Sm> const& agent);
  Orba::Ptr<IntfReactor> intfReactorDel(Lanx::IntfId const& id);
  void intfReactorDelAll();

  void handleConfigDir();
  void handleConfigDir(Lanx::IntfId const& intfId);
  void hasNotificationActiveIs(bool on);
  void kivDoZombieReactors(bool on);

  static Kiv::TypeDesc const& typeDesc();

 private:
  IntfSliceReactor(Orba::Ptr<Interface::EthPhyIntfConfigDir> const& configDir,
                   Orba::Ptr<Bcm53134Sm> const& agent);
  ~IntfSliceReactor() override;
  void configDirDispatch(Kiv::AttributeId id, void const* key);

  Orba::Ptr<Interface::EthPhyIntfConfigDir> configDir_;
  Orba::Ptr<Bcm53134Sm> agent_;
  IntfReactors intfReactor_;
  Orba::SubscriberSlot configDirSlot_;
};

}  // namespace Bcm53134::Agent
