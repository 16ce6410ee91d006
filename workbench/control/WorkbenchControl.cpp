#include "workbench/control/WorkbenchControl.h"

#include <memory>

#include "host/control/ControlCommands.h"
#include "workbench/control/StdinCommands.h"

namespace Host {

void workbenchControlInstall() {
  // Listed where the help text lists it, before reload.
  controlCommandAdd({"sim", Commands::simCommand, Privilege::change, Commands::simWords}, "reload");
  terminalInputIs([](RunningAgent& agent, int fd) -> std::unique_ptr<TerminalInput> {
    return std::make_unique<StdinCommands>(agent, fd);
  });
}

}  // namespace Host
