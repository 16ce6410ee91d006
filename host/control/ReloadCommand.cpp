#include "host/agent/RunningAgent.h"
#include "host/control/CommandFamilies.h"

// reload: the session reads the appliance file again, as on SIGHUP, and the
// answer is its outcome.
namespace Host::Commands {

Json reloadCommand(ControlContext& c, std::vector<std::string> const& argv) {
  needArgs(argv, 1, 1, "reload");
  auto outcome = c.agent.reload("control socket");
  // The first line says who asked: the one asking knows.
  std::vector<std::string> lines(outcome.lines.begin() + 1, outcome.lines.end());
  if (!outcome.ok())
    throw CommandError(joined(lines, "\n"));
  return done(
      joined(lines, "\n"),
      Json{{"outcome", outcome.result == ReloadOutcome::Result::applied ? "applied" : "unchanged"},
           {"lines", lines}});
}

}  // namespace Host::Commands
