#include "host/Runner.h"

#include <malloc.h>
#include <signal.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

#include "host/HostLines.h"
#include "host/Run.h"
#include "host/RunRecord.h"
#include "host/Service.h"
#include "host/Session.h"
#include "host/control/ControlCommands.h"
#include "host/control/ControlProtocol.h"
#include "host/control/ControlServer.h"
#include "host/os/KernelSwitch.h"
#include "host/os/MiiProbe.h"
#include "host/os/ServiceManager.h"
#include "host/os/Signals.h"
#include "host/record/FieldRecord.h"
#include "host/show/TraceOutput.h"
#include "platform/bus/linux/MiiIoctlBus.h"
#include "platform/kiv/EventLoop.h"
#include "platform/kiv/Trace.h"

namespace Host {

std::unique_ptr<Signals> stopSignals() {
  try {
    return std::make_unique<Signals>();
  } catch (std::runtime_error const& e) {
    complain(e.what());
    return nullptr;
  }
}

namespace {

constexpr char const* kRunTrace = "Bcm53134Agent/0,1 CpuIfMgr/0,1 Mdio/0";

}  // namespace

std::vector<std::string> describeAppliance(ApplianceDesc const& a) {
  std::vector<std::string> r;
  r.push_back(a.file + ": " + std::to_string(a.mgmtInterfaces.size()) + " management interface" +
              (a.mgmtInterfaces.size() == 1 ? "" : "s") + ", ham " +
              (a.ham ? "present" : "absent") + ", bus " + std::to_string(a.bus));
  for (auto const& m : a.mgmtInterfaces) {
    r.push_back("  " + m.intfId + ": external port " + std::to_string(m.externalPort) +
                ", internal port " + std::to_string(m.internalPort) + ", " +
                (m.cpuInterface.empty() ? "no CPU netdevice" : "CPU netdevice " + m.cpuInterface));
  }
  for (auto const& w : a.sharedPortWarnings())
    r.push_back("  " + w);
  for (auto const& s : a.slices) {
    std::string intfs;
    for (auto const& i : s.interfaces)
      intfs += (intfs.empty() ? "" : ", ") + i.intfId + " " + Interface::stringValue(i.state);
    r.push_back("  slice " + s.name + ": " + (intfs.empty() ? "no interfaces" : intfs));
  }
  if (a.mdio == MdioTransport::miiIoctl) {
    r.push_back("  MDIO bus: MII ioctls on " + a.mdioNetdev);
    return r;
  }
  std::string links;
  for (auto const& [port, up] : a.links)
    links += (links.empty() ? "" : ", ") + std::to_string(port) + (up ? " up" : " down");
  r.push_back("  MDIO bus: the simulated BCM53134; chip links: " +
              (links.empty() ? "all down" : links));
  return r;
}

int checkInput(Options const& o) {
  detectJournal();
  try {
    for (auto const& l : describeAppliance(loadAppliance(o.appliance)))
      say(l);
  } catch (InputError const& e) {
    complain(e.what());
    return kExitUsage;
  }
  return kExitOk;
}

namespace {

// The appliance file, or nothing after saying why it is refused.
std::optional<ApplianceDesc> applianceOrComplaint(std::string const& path) {
  try {
    return loadAppliance(path);
  } catch (InputError const& e) {
    complain(e.what());
    return std::nullopt;
  }
}

// Why the appliance's real MDIO bus is the kernel's switch driver's, before
// anything opens it; "" when it is not, and for the simulated chip.
std::string kernelSwitchOf(ApplianceDesc const& a) {
  return a.mdio == MdioTransport::miiIoctl ? kernelSwitchRefusal(a.mdioNetdev) : "";
}

// The appliance's real MDIO bus, opened in the host's own network namespace
// and checked port by port; null for the simulated chip. Throws
// MiiProbeError.
Orba::Ptr<Hardware::Mdio::Bus> checkedMdioBus(ApplianceDesc const& a) {
  if (a.mdio != MdioTransport::miiIoctl)
    return {};
  if (auto why = kernelSwitchOf(a); !why.empty())
    throw MiiProbeError(why);
  auto bus = Hardware::Mdio::Linux::MiiIoctlBus::MiiIoctlBusIs(a.mdioNetdev);
  for (auto const& l : probeMdio(*bus, a.portUsers(), false))
    say("MDIO check: " + l);
  return bus;
}

}  // namespace

int probeAppliance(Options const& o) {
  auto loaded = applianceOrComplaint(o.appliance);
  if (!loaded)
    return kExitUsage;
  ApplianceDesc const& appliance = *loaded;
  if (auto why = kernelSwitchOf(appliance); !why.empty()) {
    complain(why);
    return kExitSetup;
  }
  StateDb db(appliance);
  say("probing " + appliance.file + ": MDIO bus " + db.bus().description());
  try {
    auto lines = probeMdio(db.recorder().inner(), appliance.portUsers(), true);
    for (auto const& l : lines)
      say(l);
    say("probe done: " + std::to_string(lines.size()) + " port" + (lines.size() == 1 ? "" : "s") +
        " answered");
  } catch (MiiProbeError const& e) {
    complain(e.what());
    return kExitSetup;
  }
  return kExitOk;
}

namespace {

// Trace lines in the journal's form while an appliance's run lasts.
struct JournalTrace {
  explicit JournalTrace(bool on) : on(on) {
    if (on)
      Kiv::traceSinkIs(&sink);
  }
  ~JournalTrace() {
    if (on)
      Kiv::traceSinkIs(nullptr);
  }
  JournalTraceSink sink;
  bool on;
};

void sayServiceManager(ServiceManager const& manager) {
  if (manager.active()) {
    char interval[64] = "no watchdog";
    if (manager.watchdogInterval() > 0)
      std::snprintf(interval, sizeof interval, "watchdog keep-alive every %g s",
                    manager.watchdogInterval() / 2);
    say(std::string("service manager: readiness and status through NOTIFY_SOCKET; ") + interval);
  }
}

// Where the run's outputs go, and how it is stopped and driven.
void sayRunning(Options const& o, std::string const& spec) {
  if (!o.session.statusFile.empty())
    say("status file: " + o.session.statusFile);
  if (!o.session.metricsTextfile.empty())
    say("metrics textfile: " + o.session.metricsTextfile);
  say("trace: " + spec + " (stderr)");
  say("running in real time; Ctrl-C or SIGTERM stops, SIGHUP reloads " + o.appliance +
      ". Type steps on stdin, e.g. "
      "link: {port: 1, state: down}");
}

// Stops the agent and ends the run, saying what became of its namespace.
void stopAgent(std::unique_ptr<Run> run) {
  Session& session = run->session();
  session.stop();
  say("agent stopped");
  bool kept = session.netns() && session.netns()->keep();
  std::string nsName = session.netns() ? session.netns()->name() : "";
  bool named = session.netns() && session.netns()->named();
  run.reset();
  if (kept)
    say("network namespace " + nsName + " kept; inspect with: ip -n " + nsName +
        " -d link show; remove with: ip netns del " + nsName);
  else if (named)
    say("network namespace " + nsName + " removed");
}

}  // namespace

int runAppliance(Options const& o) {
  detectJournal();
  std::string spec = traceSpecText(o, kRunTrace);
  try {
    Kiv::TraceHandle::maskSpecIs(spec);
  } catch (std::invalid_argument const& e) {
    complain(e.what());
    return kExitUsage;
  }
  auto loaded = applianceOrComplaint(o.appliance);
  if (!loaded)
    return kExitUsage;
  ApplianceDesc const& appliance = *loaded;

  std::unique_ptr<Signals> signals = stopSignals();
  if (!signals)
    return kExitSetup;

  Timeline timeline(stdout, stdoutIsJournal());
  JournalTrace journalTrace(stderrIsJournal());
  for (auto const& l : describeAppliance(appliance))
    say("appliance " + l);
  std::optional<ServiceManager> serviceManager;
  try {
    serviceManager.emplace();
  } catch (std::runtime_error const& e) {
    complain(e.what());
    return kExitSetup;
  }
  ServiceManager& manager = *serviceManager;
  // Before the session: it may move the host into a private namespace,
  // where the appliance's netdevice is not to be found.
  Orba::Ptr<Hardware::Mdio::Bus> bus;
  try {
    bus = checkedMdioBus(appliance);
  } catch (MiiProbeError const& e) {
    complain(e.what());
    return kExitSetup;
  }
  std::unique_ptr<Run> run;
  std::unique_ptr<Service> service;
  bool built = false;  // a run not built whole is gone before the complaint
  try {
    run = std::make_unique<Run>(o);
    SessionOptions options = o.session;
    options.applianceFile = o.appliance;
    run->sessionIs(appliance, options, timeline, bus);
    startRecord(o, run->agent(), say);
    run->agent().db().recorder().endHandlerIs(say);
    run->metricsServe(say);
    say("CPU netdevices: " + run->cpuModeText());
    run->agentLoad();
    say("agent " + run->agent().library().name + " loaded from " + run->agent().library().path);
    run->controlServe(o, say);
    run->agentStart();
    built = true;
    run->session().reportIs(say, complain);
    for (auto const& w : run->session().cpuNetdevWarnings())
      complain(w);
    service = std::make_unique<Service>(run->session(), manager, say, complain);
  } catch (InputError const& e) {
    if (!built)
      run.reset();
    complain(e.what());
    return kExitUsage;
  } catch (std::exception const& e) {
    if (!built)
      run.reset();
    complain(e.what());
    return kExitSetup;
  }
  Session& session = run->session();
  sayServiceManager(manager);
  signals->hangupIs([&] { session.reload("SIGHUP"); });
  sayRunning(o, spec);

  auto& loop = Kiv::EventLoop::instance();
  {
    auto input = terminalInputOpen(session, 0);
    loop.modeIs(Kiv::EventLoop::Mode::realTime);
    loop.run();
  }
  std::string stoppedBy = signals->stoppedBy();
  service->stopping();
  service.reset();
  signals.reset();
  run->stopServing();

  endRecord(run->session(), say);
  say(stoppedBy +
      ": stopping; the agent's root is destroyed (netdevices keep their protodown "
      "setting)");
  stopAgent(std::move(run));
  return kExitOk;
}

}  // namespace Host
