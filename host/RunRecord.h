#pragma once

#include <functional>
#include <string>

#include "host/Options.h"

namespace Host {

class RunningAgent;

// The bus record a run writes (--record).

// Starts the bus record of --record, before the agent starts; false when
// there is none. Throws std::runtime_error when it cannot be made.
bool startRecord(Options const& o, RunningAgent& agent,
                 std::function<void(std::string const&)> const& tell);
// Ends a bus record still being written, with its summary line.
void endRecord(RunningAgent& agent, std::function<void(std::string const&)> const& tell);

}  // namespace Host
