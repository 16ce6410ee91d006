#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/Options.h"
#include "host/appliance/Appliance.h"
#include "host/os/Signals.h"

namespace Host {

// Exit statuses of the host.
enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitSetup = 3 };

// Runs the agent in real time on the appliance until SIGINT or SIGTERM.
int runAppliance(Options const& o);
// Reads the appliance file and reports what it describes.
int checkInput(Options const& o);
// Probes the appliance's MDIO bus port by port; kExitSetup when it cannot
// be reached.
int probeAppliance(Options const& o);

// The signals of a real-time run, or null after saying why they cannot be
// had.
std::unique_ptr<Signals> stopSignals();

// The appliance in a few lines, for the user.
std::vector<std::string> describeAppliance(ApplianceDesc const& a);

}  // namespace Host
