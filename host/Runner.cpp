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

#include "host/RunLines.h"
#include "host/RunSetup.h"
#include "host/Service.h"
#include "host/control/ControlCommands.h"
#include "host/control/ControlProtocol.h"
#include "host/control/ControlServer.h"
#include "host/control/StdinCommands.h"
#include "host/os/KernelSwitch.h"
#include "host/os/MiiProbe.h"
#include "host/os/ServiceManager.h"
#include "host/os/Signals.h"
#include "host/record/FieldRecord.h"
#include "host/scenario/Scenario.h"
#include "platform/bus/linux/MiiIoctlBus.h"
#include "platform/bus/record/ReplayBus.h"
#include "platform/kiv/EventLoop.h"
#include "platform/kiv/Trace.h"

namespace Host {

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
    if (!o.scenario.empty() || !o.replay.empty()) {
      auto sc = o.replay.empty() ? loadScenario(o.scenario) : replayScenario(o.replay);
      char end[32];
      std::snprintf(end, sizeof end, "%g", sc.end);
      say(sc.file + ": scenario \"" + sc.name + "\", " + std::to_string(sc.steps.size()) +
          " steps, ends at " + end + " s");
      for (auto const& l : describeAppliance(sc.appliance))
        say(l);
    } else {
      for (auto const& l : describeAppliance(loadAppliance(o.appliance)))
        say(l);
    }
  } catch (InputError const& e) {
    complain(e.what());
    return kExitUsage;
  }
  return kExitOk;
}

int printReplayScenario(Options const& o) {
  try {
    std::fputs(scenarioFromRecord(loadBusRecord(o.replay)).c_str(), stdout);
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
  // Trace lines in the journal's form while this run lasts.
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
  } journalTrace(stderrIsJournal());
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
  try {
    RunSetup setup{.session = o.session, .bus = bus, .tell = say};
    setup.session.applianceFile = o.appliance;
    setup.loadedText = [](AgentLibrary const& l) {
      return "agent " + l.name + " loaded from " + l.path;
    };
    setup.afterSession = [&](Session& s) {
      startRecord(o, s, say);
      s.db().recorder().endHandlerIs(say);
    };
    run = std::make_unique<Run>(appliance, o, std::move(setup), timeline);
    run->session().reportIs(say, complain);
    for (auto const& w : run->session().cpuNetdevWarnings())
      complain(w);
    service = std::make_unique<Service>(run->session(), manager, say, complain);
  } catch (InputError const& e) {
    complain(e.what());
    return kExitUsage;
  } catch (std::exception const& e) {
    complain(e.what());
    return kExitSetup;
  }
  Session& session = run->session();
  if (manager.active()) {
    char interval[64] = "no watchdog";
    if (manager.watchdogInterval() > 0)
      std::snprintf(interval, sizeof interval, "watchdog keep-alive every %g s",
                    manager.watchdogInterval() / 2);
    say(std::string("service manager: readiness and status through NOTIFY_SOCKET; ") + interval);
  }
  signals->hangupIs([&] { session.reload("SIGHUP"); });
  if (!o.session.statusFile.empty())
    say("status file: " + o.session.statusFile);
  if (!o.session.metricsTextfile.empty())
    say("metrics textfile: " + o.session.metricsTextfile);
  say("trace: " + spec + " (stderr)");
  say("running in real time; Ctrl-C or SIGTERM stops, SIGHUP reloads " + o.appliance +
      ". Type steps on stdin, e.g. "
      "link: {port: 1, state: down}");

  auto& loop = Kiv::EventLoop::instance();
  {
    StdinCommands input(session, 0);
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
  return kExitOk;
}

namespace {

struct Tally {
  unsigned passed = 0, failed = 0;
  void add(Step const& step, StepOutcome const& r) {
    if (step.kind == Step::Kind::expect)
      ++(r.ok ? passed : failed);
    else if (!r.ok)
      ++failed;  // an event that could not be carried out fails the scenario
  }
};

// Runs a scenario's steps at their times on a loop in real time, then stops
// the loop at the scenario's end.
class StepPlayer : public Kiv::Timer {
 public:
  StepPlayer(Scenario const& sc, World& world, Tally& tally)
      : sc_(sc), world_(world), tally_(tally), t0_(Kiv::EventLoop::instance().now()) {
    arm(t0_ + (sc_.steps.empty() ? sc_.end : sc_.steps.front().at));
  }
  // Steps not run (the loop was stopped early).
  std::size_t remaining() const noexcept { return sc_.steps.size() - next_; }

 private:
  void onTimer() override {
    auto& loop = Kiv::EventLoop::instance();
    double now = loop.now() - t0_;
    while (next_ < sc_.steps.size() && sc_.steps[next_].at <= now) {
      auto const& step = sc_.steps[next_++];
      tally_.add(step, runStep(step, world_));
    }
    if (next_ < sc_.steps.size())
      arm(t0_ + sc_.steps[next_].at);
    else if (now < sc_.end)
      arm(t0_ + sc_.end);
    else
      loop.stop();
  }

  Scenario const& sc_;
  World& world_;
  Tally& tally_;
  Kiv::Seconds t0_;
  std::size_t next_ = 0;
};

}  // namespace

int runScenario(Options const& o) {
  detectJournal();
  Scenario sc;
  try {
    sc = o.replay.empty() ? loadScenario(o.scenario) : replayScenario(o.replay);
  } catch (InputError const& e) {
    complain(e.what());
    return kExitUsage;
  }
  // The file's document tree is gone, but its memory lies under the steps
  // made from it: give its free pages back before the agent is loaded
  // (a long scenario's tree is a few MiB that the run never needs again).
  ::malloc_trim(0);
  if (sc.replay && o.realTime) {
    complain("a replay runs in virtual time; drop --real-time");
    return kExitUsage;
  }
  TraceSpec display;
  try {
    display = TraceSpec::parse(traceSpecText(o, sc.trace));
  } catch (std::invalid_argument const& e) {
    complain(e.what());
    return kExitUsage;
  }
  std::unique_ptr<Signals> signals;
  if (o.realTime && !(signals = stopSignals()))
    return kExitSetup;

  Timeline timeline(stdout, stdoutIsJournal());
  timeline.note("scenario: " + (sc.name.empty() ? sc.file : sc.name + " (" + sc.file + ")"));
  if (!sc.description.empty()) {
    std::string d = sc.description;
    while (!d.empty() && d.back() == '\n')
      d.pop_back();
    for (std::size_t pos = 0; pos != std::string::npos;) {
      auto nl = d.find('\n', pos);
      timeline.note("  " + d.substr(pos, nl == std::string::npos ? nl : nl - pos));
      pos = nl == std::string::npos ? nl : nl + 1;
    }
  }
  for (auto const& l : describeAppliance(sc.appliance))
    timeline.note("appliance " + l);

  // The facilities write what the timeline shows. A trace expectation may
  // look for a line at any level, so with trace expectations every level of
  // every facility is on and each line is matched against their texts as it
  // is written; the display spec still picks the lines shown.
  TraceLog traces(timeline, display);
  for (auto const& step : sc.steps) {
    if (step.traceText)
      traces.watch(*step.traceText);
  }
  Kiv::TraceHandle::maskSpecIs(traces.watching() ? "*/all" : display.handleSpec());
  auto* previousSink = Kiv::traceSinkIs(&traces);

  Tally tally;
  {
    std::unique_ptr<Run> run;
    Orba::Ptr<Hardware::Mdio::Record::ReplayBus> replay;
    auto note = [&timeline](std::string const& t) { timeline.note(t); };
    try {
      if (sc.replay) {
        replay = Hardware::Mdio::Record::ReplayBus::ReplayBusIs(*sc.replay);
        replay->overHandlerIs([&timeline, &replay] {
          auto const& r = replay->record();
          if (auto const& d = replay->divergence())
            timeline.line("replay", r.name + ":" + std::to_string(d->line) + ": " + d->text);
          else
            timeline.line("replay", r.name + ": the agent made the record's " +
                                        std::to_string(replay->consumed()) + " accesses");
        });
      }
      RunSetup setup{
          .session = o.session,
          .tell = [&](std::string const& t) { timeline.note(t); },
          .loadedText =
              [](AgentLibrary const& l) { return "agent: " + l.name + " from " + l.path; },
          .beforeLoad = [&] { timeline.note("trace shown: " + display.text()); },
          .control = o.realTime,
          .traceLevels = [&traces](std::string const& f) { return traces.display().mask(f); },
          .traceLevelsIs =
              [&traces](std::string const& f, std::uint32_t m) {
                traces.displayIs(f, m);
                if (!traces.watching())
                  Kiv::TraceHandle::maskSpecIs(f + "/" + levelsText(m));
              }};
      for (auto const& step : sc.steps)
        setup.session.metrics = setup.session.metrics || step.metric;
      setup.bus = replay;
      setup.afterSession = [&](Session& s) {
        if (replay) {
          timeline.note("MDIO bus: " + replay->description() + " (" +
                        std::to_string(sc.replay->accesses.size()) + " accesses to " +
                        std::to_string(sc.replay->end) + " s)");
          if (!sc.replay->cut.empty())
            timeline.note(sc.replay->cut);
          if (sc.replay->endReason == "reload")
            timeline.note(sc.replay->name + ":" + std::to_string(sc.replay->endLine) +
                          ": the record ends where the appliance was reloaded with changes; "
                          "the replay ends there");
        }
        if (startRecord(o, s, note))
          s.db().recorder().endHandlerIs(
              [&timeline](std::string const& t) { timeline.line("record", t); });
      };
      run = std::make_unique<Run>(sc.appliance, o, std::move(setup), timeline);
    } catch (std::exception const& e) {
      Kiv::traceSinkIs(previousSink);
      complain(e.what());
      return dynamic_cast<InputError const*>(&e) ? kExitUsage : kExitSetup;
    }
    Session& session = run->session();
    if (signals)
      signals->hangupIs([&] { session.reload("SIGHUP"); });
    auto& loop = Kiv::EventLoop::instance();
    World world{session, &traces};
    if (o.realTime) {
      timeline.note("running in real time; Ctrl-C or SIGTERM stops early");
      loop.modeIs(Kiv::EventLoop::Mode::realTime);
      StepPlayer player(sc, world, tally);
      loop.run();
      if (player.remaining() > 0) {
        timeline.line("end", signals->stoppedBy() + ": " + std::to_string(player.remaining()) +
                                 " steps not run");
        tally.failed += static_cast<unsigned>(player.remaining());
      }
      run->stopServing();
    } else {
      // A replay that is over (a divergence, or the record's end) ends the run.
      auto over = [&replay] { return replay && replay->over(); };
      auto advanceTo = [&](double t) {
        if (replay)
          loop.runUntil(over, t);
        if (!over() && t > loop.now())
          loop.advance(t - loop.now());
      };
      std::size_t stepsRun = 0;
      for (auto const& step : sc.steps) {
        if (step.at > loop.now())
          advanceTo(step.at);
        if (over())
          break;
        tally.add(step, runStep(step, world));
        ++stepsRun;
      }
      if (!over() && sc.end > loop.now())
        advanceTo(sc.end);
      if (replay) {
        replay->runEnds();
        if (replay->divergence())
          ++tally.failed;
        if (stepsRun < sc.steps.size()) {
          timeline.line("end", std::to_string(sc.steps.size() - stepsRun) +
                                   " steps not run: the replay is over");
          tally.failed += static_cast<unsigned>(sc.steps.size() - stepsRun);
        }
      }
    }
    endRecord(run->session(), note);
    timeline.line("end", "stopping the agent");
    session.stop();
  }
  Kiv::traceSinkIs(previousSink);
  stdoutLine("result: " + std::to_string(tally.passed) + " passed, " +
             std::to_string(tally.failed) + " failed\n");
  return tally.failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace Host
