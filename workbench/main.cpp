// agenthost: loads an agent library by name and runs it on an appliance
// described in a file, over the simulated switch chip or the appliance's own
// MDIO bus, in real time or through a scenario in virtual time. The daemon
// (host/) with its workbench (scenarios, replays, the sim and stdin
// commands) linked in.

#include <csignal>
#include <cstdio>
#include <stdexcept>

#include "host/Runner.h"
#include "host/control/ctl/CliRefusal.h"
#include "host/os/Signals.h"
#include "workbench/ScenarioRun.h"
#include "workbench/control/WorkbenchControl.h"

int main(int argc, char** argv) {
  // A reader of stdout that goes away (agenthost ... | head) must not kill
  // the host before its teardown: writes fail with EPIPE instead.
  std::signal(SIGPIPE, SIG_IGN);
  Host::Options o;
  try {
    o = Host::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (std::invalid_argument const& e) {
    std::fprintf(stderr, "agenthost: %s\nTry agenthost --help.\n", e.what());
    return Host::kExitUsage;
  }
  if (o.help) {
    std::fputs(Host::usage().c_str(), stdout);
    return Host::kExitOk;
  }
  if (o.version) {
    std::puts(Host::Ctl::versionLine("agenthost").c_str());
    return Host::kExitOk;
  }
  // Before any thread starts: the runs that handle signals read them on
  // their loop, and every thread made later inherits the mask.
  if (!o.check && !o.probe && (o.scenario.empty() || o.realTime))
    Host::blockHostSignals();
  // The sim command on the control socket and the steps typed on stdin,
  // in every run that serves them.
  Host::workbenchControlInstall();
  if (o.check)
    return o.scenario.empty() && o.replay.empty() ? Host::checkInput(o) : Host::checkScenario(o);
  if (o.probe)
    return Host::probeAppliance(o);
  if (o.asScenario)
    return Host::printReplayScenario(o);
  if (!o.scenario.empty() || !o.replay.empty())
    return Host::runScenario(o);
  return Host::runAppliance(o);
}
