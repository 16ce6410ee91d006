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
      {"show", Commands::showCommand, Commands::showWords},
      {"get", Commands::getCommand, nullptr},
      {"set", Commands::setCommand, nullptr},
      {"call", Commands::callCommand, nullptr},
      {"list", Commands::listCommand, nullptr},
      {"trace", Commands::traceCommand, nullptr},
      {"reload", Commands::reloadCommand, nullptr},
      {"record", Commands::recordCommand, Commands::recordWords},
      {"hold", Commands::holdCommand, nullptr},
      {"help", helpCommand, nullptr},
  };
  return table;
}

TerminalInputOpener terminalOpener = nullptr;

Json dispatch(ControlContext& c, std::vector<std::string> const& argv) {
  std::string cmd = argv.empty() ? "" : argv[0];
  std::string names;
  for (auto const& command : commandTable()) {
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
