#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/kiv/Type.h"
#include "platform/kiv/Value.h"

namespace Host {

// What the host follows of the running agent, read through the generic
// attribute interface: its state machine, whether that machine is idle,
// and the CPU interface manager's verdict per CPU netdevice. Descriptors,
// values and keys are cached, so reading them every event or every cycle
// allocates nothing once they are known.
class AgentView {
 public:
  // The agent's root, or null when it is gone.
  void rootIs(Orba::Node* root);
  Orba::Node* root() const noexcept { return root_; }

  // The root's state machine, or null before the mounts complete.
  Orba::Node* stateMachine();
  // Whether the state machine is idle (between poll cycles); empty when its
  // state cannot be read.
  std::optional<bool> idle(Orba::Node& sm);
  // The agent's verdict on a CPU netdevice: true when it put it into
  // protodown (the manager's entry is disabled), false when it took it out
  // (enabled); empty while the manager has no entry of that name, or one in
  // state unknown.
  std::optional<bool> verdict(std::string const& netdev);
  // The state machine's CPU interface manager, or null.
  Orba::Node* cpuIfMgr();

 private:
  // The descriptor of an attribute of a node's type, looked up again only
  // when the node's type changes.
  struct CachedAttr {
    Kiv::TypeDesc const* type = nullptr;
    Kiv::AttrDesc const* attr = nullptr;
    Kiv::AttrDesc const* of(Orba::Node const& n, std::string_view attrName);
  };

  Orba::Node* root_ = nullptr;
  Kiv::Value sm_, mgr_;  // the handles last read, kept so that the nodes live while used
  CachedAttr smAttr_, stateAttr_, mgrAttr_, collection_, intfState_;
  Kiv::TypeDesc const* stateType_ = nullptr;
  Kiv::Value idle_;
  Kiv::TypeDesc const* intfStateType_ = nullptr;
  Kiv::Value disabled_, enabled_;
  std::map<std::string, Kiv::Value, std::less<>> keys_;  // as the collection takes them
};

}  // namespace Host
