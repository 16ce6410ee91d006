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

// Who may run a command: a connection that may only look (a member of the
// control socket's group) runs the commands that change nothing.
enum class Privilege {
  look,          // changes nothing
  change,        // changes the agent, the chip, the configuration or the host's outputs
  lookWhenBare,  // looks when given alone (record, trace); changes with words
};

// Every command by its first word, in the order messages list them. A new
// family goes into its own file, declared in CommandFamilies.h, with its
// words here.
struct Command {
  char const* name;
  Json (*run)(ControlContext&, std::vector<std::string> const&);
  Privilege privilege;
};
constexpr Command kCommands[] = {
    {"show", Commands::showCommand, Privilege::look},
    {"get", Commands::getCommand, Privilege::look},
    {"set", Commands::setCommand, Privilege::change},
    {"call", Commands::callCommand, Privilege::change},
    {"list", Commands::listCommand, Privilege::look},
    {"trace", Commands::traceCommand, Privilege::lookWhenBare},
    {"sim", Commands::simCommand, Privilege::change},
    {"reload", Commands::reloadCommand, Privilege::change},
    {"record", Commands::recordCommand, Privilege::lookWhenBare},
    {"hold", Commands::holdCommand, Privilege::change},
    {"help", helpCommand, Privilege::look},
};

// Refuses a command that changes something to a connection that may only
// look, naming the commands it may run.
void checkPrivilege(Command const& command, std::vector<std::string> const& argv,
                    Control::Access access) {
  if (access == Control::Access::change || command.privilege == Privilege::look ||
      (command.privilege == Privilege::lookWhenBare && argv.size() == 1))
    return;
  std::string looks, bare;
  for (auto const& c : kCommands) {
    auto& to = c.privilege == Privilege::look ? looks : bare;
    if (c.privilege != Privilege::change)
      to += std::string(to.empty() ? "" : ", ") + c.name;
  }
  std::string what = command.name;
  if (command.privilege == Privilege::lookWhenBare)
    what += " " + argv[1];
  throw Commands::CommandError(what +
                               " changes the running host: only root and the host's own user "
                               "may; members of its group may look (" +
                               looks + "; " + bare + " without words)");
}

Json dispatch(ControlContext& c, std::vector<std::string> const& argv, Control::Access access) {
  std::string cmd = argv.empty() ? "" : argv[0];
  std::string names;
  for (auto const& command : kCommands) {
    if (cmd == command.name) {
      checkPrivilege(command, argv, access);
      return command.run(c, argv);
    }
    names += std::string(names.empty() ? "" : ", ") + command.name;
  }
  throw Commands::CommandError(
      (cmd.empty() ? std::string("no command") : "unknown command '" + cmd + "'") +
      "; the commands are: " + names);
}

}  // namespace

Json controlCommand(ControlContext& context, std::vector<std::string> const& argv,
                    Control::Access access) {
  try {
    return dispatch(context, argv, access);
  } catch (std::exception const& e) {
    return Json{{"ok", false}, {"error", e.what()}};
  }
}

std::string controlHelp() {
  return Control::commandSummary();
}

}  // namespace Host
