#include "host/control/ControlCommands.h"

#include <string_view>

#include "host/control/CommandFamilies.h"
#include "host/control/CommandSupport.h"
#include "host/control/ControlProtocol.h"

namespace Host {

namespace {

using Commands::Json;

Json helpCommand(ControlContext&, std::vector<std::string> const&) {
  return Commands::done(controlHelp());
}

// The host's own commands by their first word; what registers more
// (controlCommandAdd) places them among these. A new family goes into its
// own file, declared in CommandFamilies.h, with its words here.
std::vector<ControlCommand>& commandTable() {
  static std::vector<ControlCommand> table{
      {"show", Commands::showCommand, Privilege::look, Commands::showWords},
      {"get", Commands::getCommand, Privilege::look, nullptr},
      {"set", Commands::setCommand, Privilege::change, nullptr},
      {"call", Commands::callCommand, Privilege::change, nullptr},
      {"list", Commands::listCommand, Privilege::look, nullptr},
      {"trace", Commands::traceCommand, Privilege::lookWhenBare, nullptr},
      {"reload", Commands::reloadCommand, Privilege::change, nullptr},
      {"record", Commands::recordCommand, Privilege::lookWhenBare, Commands::recordWords},
      {"hold", Commands::holdCommand, Privilege::change, nullptr},
      {"help", helpCommand, Privilege::look, nullptr},
  };
  return table;
}

TerminalInputOpener terminalOpener = nullptr;

// Refuses a command that changes something to a connection that may only
// look, naming the commands it may run.
void checkPrivilege(ControlCommand const& command, std::vector<std::string> const& argv,
                    Control::Access access) {
  if (access == Control::Access::change || command.privilege == Privilege::look ||
      (command.privilege == Privilege::lookWhenBare && argv.size() == 1))
    return;
  std::string looks, bare;
  for (auto const& c : commandTable()) {
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
  for (auto const& command : commandTable()) {
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

void controlCommandAdd(ControlCommand command, char const* before) {
  auto& table = commandTable();
  for (auto& c : table) {
    if (std::string_view(c.name) == command.name) {
      c = command;  // added again: the same command in the same place
      return;
    }
  }
  auto at = table.end();
  for (auto it = table.begin(); before && it != table.end(); ++it) {
    if (std::string_view(it->name) == before)
      at = it;
  }
  table.insert(at, command);
}

std::vector<ControlCommand> const& controlCommands() {
  return commandTable();
}

void terminalInputIs(TerminalInputOpener opener) {
  terminalOpener = opener;
}

std::unique_ptr<TerminalInput> terminalInputOpen(RunningAgent& agent, int fd) {
  return terminalOpener ? terminalOpener(agent, fd) : nullptr;
}

}  // namespace Host
