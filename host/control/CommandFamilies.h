#pragma once

#include <string>
#include <vector>

#include "host/control/CommandSupport.h"
#include "host/control/ControlCommands.h"

// The control command families, one file each; ControlCommands.cpp hands
// each its command's words (argv[0] is the command itself). Each returns
// its answer (done()) or throws CommandError.
namespace Host::Commands {

// ShowCommands.cpp: show status | show agent.
Json showCommand(ControlContext& c, std::vector<std::string> const& argv);
std::vector<std::string> showWords();

// AttrCommands.cpp: the agent through attribute paths.
Json getCommand(ControlContext& c, std::vector<std::string> const& argv);
Json setCommand(ControlContext& c, std::vector<std::string> const& argv);
Json callCommand(ControlContext& c, std::vector<std::string> const& argv);
Json listCommand(ControlContext& c, std::vector<std::string> const& argv);

// TraceCommand.cpp: trace [FACILITY LEVELS].
Json traceCommand(ControlContext& c, std::vector<std::string> const& argv);

// ReloadCommand.cpp: reload.
Json reloadCommand(ControlContext& c, std::vector<std::string> const& argv);

// HoldCommand.cpp: hold NETDEV DURATION|off.
Json holdCommand(ControlContext& c, std::vector<std::string> const& argv);

// RecordCommand.cpp: record start FILE [LIMIT] | record stop | record.
Json recordCommand(ControlContext& c, std::vector<std::string> const& argv);
std::vector<std::string> recordWords();

}  // namespace Host::Commands
