#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/control/ControlProtocol.h"

namespace Host {

class Session;

// What the control commands act on: the running session, and the trace
// levels in force (which the runner owns: in a scenario they are what the
// timeline shows).
struct ControlContext {
  Session& session;
  // The levels of one facility.
  std::function<std::uint32_t(std::string const& facility)> traceLevels;
  // Changes the levels of one facility, or of every facility for "*".
  std::function<void(std::string const& facility, std::uint32_t mask)> traceLevelsIs;
};

// Carries out one control command given as its words:
//   show status | show agent
//   get PATH ATTRIBUTE | set PATH ATTRIBUTE VALUE | call PATH OPERATION [ARGS...]
//   list PATH
//   trace [FACILITY LEVELS]
//   sim link PORT up|down|flap | sim reg PAGE ADDR VALUE | sim fail COUNT TEXT...
//   reload
//   help
// PATH names an object from the agent's root ("." or "/" is the root itself),
// in the form of attribute paths: bcm53134Sm.cpuIfMgr.cpuInterface[mgmt1].
// A connection that may only look (`access`) is refused the commands that
// change something: set, call, sim, reload, hold, and record and trace with
// words.
// Returns {"ok": true, "text": ..., "result": ...} or {"ok": false, "error":
// ...}; never throws for a bad command.
nlohmann::ordered_json controlCommand(ControlContext& context, std::vector<std::string> const& argv,
                                      Control::Access access = Control::Access::change);

// The commands, as "help" answers.
std::string controlHelp();

// The default trace hooks for a run whose facilities write straight to
// stderr: the levels are the facilities' own masks.
std::uint32_t handleTraceLevels(std::string const& facility);
void handleTraceLevelsIs(std::string const& facility, std::uint32_t mask);

}  // namespace Host
