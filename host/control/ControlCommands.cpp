#include "host/control/ControlCommands.h"

#include "host/control/CommandFamilies.h"
#include "host/control/CommandSupport.h"
#include "host/control/ControlProtocol.h"

namespace Host {

namespace {

using Commands::Json;

Json helpCommand(ControlContext&, std::vector<std::string> const&) {
  return Commands::done(controlHelp());
}

// Every command by its first word, in the order messages list them. A new
// family goes into its own file, declared in CommandFamilies.h, with its
// words here.
struct Command {
  char const* name;
  Json (*run)(ControlContext&, std::vector<std::string> const&);
};
constexpr Command kCommands[] = {
    {"show", Commands::showCommand},
    {"get", Commands::getCommand},
    {"set", Commands::setCommand},
    {"call", Commands::callCommand},
    {"list", Commands::listCommand},
    {"trace", Commands::traceCommand},
    {"sim", Commands::simCommand},
    {"reload", Commands::reloadCommand},
    {"record", Commands::recordCommand},
    {"hold", Commands::holdCommand},
    {"help", helpCommand},
};

Json dispatch(ControlContext& c, std::vector<std::string> const& argv) {
  std::string cmd = argv.empty() ? "" : argv[0];
  std::string names;
  for (auto const& command : kCommands) {
    if (cmd == command.name)
      return command.run(c, argv);
    names += std::string(names.empty() ? "" : ", ") + command.name;
  }
  throw Commands::CommandError(
      (cmd.empty() ? std::string("no command") : "unknown command '" + cmd + "'") +
      "; the commands are: " + names);
}

}  // namespace

Json controlCommand(ControlContext& context, std::vector<std::string> const& argv) {
  try {
    return dispatch(context, argv);
  } catch (std::exception const& e) {
    return Json{{"ok", false}, {"error", e.what()}};
  }
}

std::string controlHelp() {
  return Control::commandSummary();
}

}  // namespace Host
