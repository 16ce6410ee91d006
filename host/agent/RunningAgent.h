#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/orba/Node.h"

namespace AgentBase {
class CAgent;
}

namespace Host {

class StateDb;
class Timeline;
class PrivateNetns;
class AgentLibrary;
class Metrics;
class StatusWatcher;
class ProtodownKeeper;

// How the agent's CPU netdevices are handled.
enum class CpuMode {
  privateNetns,  // real macvlans in a private network namespace
  simulated,     // the agent's manager replaced by the simulated one
  hostNetns,     // production: the netdevices of the host's own namespace
};

// The outcome of one reload, as the one who asked hears it.
struct ReloadOutcome {
  enum class Result {
    applied,    // the state database now matches the file
    unchanged,  // it did already
    refused,    // the file is bad, or needs a restart: nothing was changed
    failed,     // a change could not be made: what was made is undone
  };
  Result result = Result::unchanged;
  // What the reload said, in order: who asked, the plan's changes, the
  // reason of a refusal or failure; the outcome line last.
  std::vector<std::string> lines;
  bool ok() const noexcept { return result == Result::applied || result == Result::unchanged; }
};

// The running agent as the rooms that act on it see it (the control
// commands, and what drives the agent from above the host): its appliance's
// state database, its root, its outputs and what the host keeps beside it.
// The host's session is the one implementation; nothing below the top of
// the host knows it.
class RunningAgent {
 public:
  // The state database: the appliance's chip, status and configuration.
  virtual StateDb& db() noexcept = 0;
  // The agent's root; empty before start and after stop.
  virtual Orba::Ptr<AgentBase::CAgent> const& root() const noexcept = 0;
  // The root's state machine, or empty before the mounts complete.
  virtual Orba::Ptr<Orba::Node> stateMachine() const = 0;
  virtual Timeline const& timeline() const noexcept = 0;
  virtual AgentLibrary const& library() const noexcept = 0;

  // Called after everything the host changes (scenario events, commands):
  // with the simulated manager, the agent's own manager is replaced before
  // the next link pass could use it; new CPU netdevices get their macvlan.
  virtual void afterHostChange() = 0;
  // Reads the appliance file again and makes it the running description,
  // all or nothing; `trigger` names who asked. Never throws.
  virtual ReloadOutcome reload(std::string const& trigger) = 0;
  // Starts the bus record of the state database's bus in a new file and
  // returns the path written. Throws InputError with a line for the user
  // when the name is refused, std::runtime_error when the file cannot be
  // made.
  virtual std::string recordStart(std::string const& path, std::size_t limit, bool fromStart) = 0;

  virtual CpuMode cpuMode() const noexcept = 0;
  // The private network namespace of the CPU netdevices, or null.
  virtual PrivateNetns* netns() const noexcept = 0;
  // The metrics, or null when not asked for.
  virtual Metrics* metrics() const noexcept = 0;
  // What the status watch last saw, or null in runs without one.
  virtual StatusWatcher* statusWatcher() const noexcept = 0;
  // The protodown keeper, or null where the agent acts on no real
  // netdevice (or the kernel cannot be watched).
  virtual ProtodownKeeper* keeper() const noexcept = 0;

 protected:
  ~RunningAgent() = default;
};

}  // namespace Host
