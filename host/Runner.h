#pragma once

#include "host/Options.h"

namespace Host {

// Exit statuses of the host.
enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitSetup = 3 };

// Runs the agent in real time on the appliance until SIGINT or SIGTERM.
int runAppliance(Options const& o);
// Runs a scenario (or --replay, a record) in virtual time; kExitOk when every step held.
int runScenario(Options const& o);
// Prints the scenario a bus record makes (--replay FILE --as-scenario).
int printReplayScenario(Options const& o);
// Reads the input file and reports what it describes.
int checkInput(Options const& o);
// Probes the appliance's MDIO bus port by port; kExitSetup when it cannot
// be reached.
int probeAppliance(Options const& o);

// The appliance in a few lines, for the user.
std::vector<std::string> describeAppliance(ApplianceDesc const& a);

}  // namespace Host
