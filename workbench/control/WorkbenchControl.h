#pragma once

#include <string>
#include <vector>

#include "host/control/CommandSupport.h"
#include "host/control/ControlCommands.h"

namespace Host {

// The workbench's part of live control, registered with the host's
// control (host/control/ControlCommands.h): the sim command on the
// control socket, and scenario steps typed on the host's stdin.
void workbenchControlInstall();

namespace Commands {

// SimCommands.cpp: sim ACTION ..., the chip actions (workbench/chip).
Json simCommand(ControlContext& c, std::vector<std::string> const& argv);
// Its words, one per chip action: link, reg, ...
std::vector<std::string> simWords();

}  // namespace Commands

}  // namespace Host
