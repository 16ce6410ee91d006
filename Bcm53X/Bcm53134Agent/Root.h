#pragma once

#include "Bcm53X/Bcm53134Agent/Bcm53134Sm.h"
#include "platform/agent/CAgent.h"
#include "platform/kiv/Typed.h"

namespace Bcm53134::Agent {

// The agent's root: created by name by the host, it mounts the entities the
// agent works on and owns the one switch state machine built over them.
class Root : public Kiv::Typed<Root, AgentBase::CAgent> {
 public:
  static Orba::Ptr<Root> RootIs(Orba::String const& name);

  void doInit() override;
  void doMountsComplete(Stratum::MountStatus mountStatus,
                        Orba::Ptr<Stratum::EntityManager> const& entityManager) override;

  Orba::Ptr<Bcm53134Sm> bcm53134Sm() const { return bcm53134Sm_; }
  // Keeps the machine when it runs over the same three entities, otherwise
  // builds a new one and drops the old one.
  Orba::Ptr<Bcm53134Sm> bcm53134SmIs(Orba::Ptr<Hardware::Bcm53134::Config> const& config,
                                     Orba::Ptr<Hardware::Bcm53134::Status> const& status,
                                     Orba::Ptr<Kiv::Dir> const& intfSliceDir);
  Orba::Ptr<Bcm53134Sm> bcm53134SmDel();

  static Kiv::TypeDesc const& typeDesc();

 private:
  explicit Root(Orba::String const& name) : Typed(name) {}
  ~Root() override;
  static void release(Orba::Ptr<Bcm53134Sm> const& sm);

  Orba::Ptr<Bcm53134Sm> bcm53134Sm_;
};

// The library's exported factory.
Orba::Ptr<Root> rootFactory(Orba::String const& name);

}  // namespace Bcm53134::Agent
