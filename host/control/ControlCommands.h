#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/control/ControlProtocol.h"

namespace Host {

class RunningAgent;

// What the control commands act on: the running agent, and the trace
// levels in force (which the runner owns: in a scenario they are what the
// timeline shows).
struct ControlContext {
  RunningAgent& agent;
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

// One command of the control socket: its first word and what carries it
// out (its answer, or a thrown std::exception for a bad command).
// Who may run a command: a connection that may only look (a member of the
// control socket's group) runs the commands that change nothing.
enum class Privilege {
  look,          // changes nothing
  change,        // changes the agent, the chip, the configuration or the host's outputs
  lookWhenBare,  // looks when given alone (record, trace); changes with words
};
struct ControlCommand {
  char const* name;
  nlohmann::ordered_json (*run)(ControlContext& context, std::vector<std::string> const& argv);
  Privilege privilege;
  // The words of its sub-commands ("status" and "agent" of show), as its
  // usage lists them; null when its words are all arguments.
  std::vector<std::string> (*subcommands)();
};
// Adds a command that the host itself does not have (what drives the agent
// from above the host registers its own before a run starts), listed
// before the command named `before` (at the end when there is none). A
// command added again replaces itself in its place.
void controlCommandAdd(ControlCommand command, char const* before = nullptr);
// Every command, in the order messages list them.
std::vector<ControlCommand> const& controlCommands();

// What reads commands typed on the host's terminal while a run lasts (the
// workbench's stdin steps); the run keeps it until the loop ends.
class TerminalInput {
 public:
  virtual ~TerminalInput() = default;
};
using TerminalInputOpener = std::unique_ptr<TerminalInput> (*)(RunningAgent& agent, int fd);
void terminalInputIs(TerminalInputOpener opener);
// The terminal input on `fd`, or null when nothing reads the terminal.
std::unique_ptr<TerminalInput> terminalInputOpen(RunningAgent& agent, int fd);

// The default trace hooks for a run whose facilities write straight to
// stderr: the levels are the facilities' own masks.
std::uint32_t handleTraceLevels(std::string const& facility);
void handleTraceLevelsIs(std::string const& facility, std::uint32_t mask);

}  // namespace Host
