#pragma once

#include "host/Options.h"

namespace Host {

// Runs a scenario (or --replay, a record) in virtual time; kExitOk when every step held.
int runScenario(Options const& o);
// Prints the scenario a bus record makes (--replay FILE --as-scenario).
int printReplayScenario(Options const& o);
// Reads the scenario (or the record) and reports what it describes (--check).
int checkScenario(Options const& o);

}  // namespace Host
