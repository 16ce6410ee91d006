#pragma once

#include "platform/stratum/EntityManager.h"

namespace AgentBase {

// Base of an agent: a named mounter holding the process's entity manager.
// The host creates the agent, calls doInit, and the state database calls
// doStratumMountsComplete, which hands over to doMountsComplete. The other
// agent hooks keep this base behaviour.
class CAgent : public Stratum::Mounter {
 public:
  Orba::String const& name() const noexcept { return name_; }
  Orba::Ptr<Stratum::EntityManager> const& entityManager() const noexcept { return entityManager_; }

  virtual void doInit() {}
  virtual void doMountsComplete(Stratum::MountStatus status,
                                Orba::Ptr<Stratum::EntityManager> const& entityManager) {}
  void doStratumMountsComplete(Stratum::MountStatus status,
                               Orba::Ptr<Stratum::EntityManager> const& entityManager) final {
    doMountsComplete(status, entityManager);
  }

  // Stages, warm update and the like: this system has none, and an agent
  // that keeps the base behaviour is always clean and never quiescing.
  virtual bool isCleanState() const { return true; }
  virtual bool isQuiescing() const { return false; }

 protected:
  explicit CAgent(Orba::String name)
      : name_(std::move(name)), entityManager_(Stratum::EntityManager::local()) {}
  ~CAgent() override = default;

 private:
  Orba::String name_;
  Orba::Ptr<Stratum::EntityManager> entityManager_;
};

// Every agent library exports one C entry point under this name, so that a
// host can create the agent's root knowing only the library's name. It
// returns the new root with its birth reference, which the caller adopts.
using AgentRootFactory = CAgent* (*)(char const* name);
inline constexpr char const* kAgentRootFactorySymbol = "agentRootFactory";

}  // namespace AgentBase
