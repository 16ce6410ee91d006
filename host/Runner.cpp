#include "host/Runner.h"

#include <signal.h>
#include <sys/signalfd.h>
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

#include "host/Service.h"
#include "host/control/ControlCommands.h"
#include "host/control/ControlProtocol.h"
#include "host/control/ControlServer.h"
#include "host/os/MiiProbe.h"
#include "host/os/ServiceManager.h"
#include "host/scenario/Scenario.h"
#include "platform/bus/linux/MiiIoctlBus.h"
#include "platform/kiv/EventLoop.h"
#include "platform/kiv/Trace.h"

namespace Host {

namespace {

constexpr char const* kRunTrace = "Bcm53134Agent/0,1 CpuIfMgr/0,1 Mdio/0";

// Whether stdout and stderr are the journal's streams: then the host's
// lines carry the priority the journal reads from a stream, and no time of
// their own.
bool journalOut = false, journalErr = false;

void detectJournal() {
  journalOut = journalStream(1);
  journalErr = journalStream(2);
}

void say(std::string const& text) {
  stdoutLine((journalOut ? SD_INFO : "") + ("agenthost: " + text) + "\n");
}

void complain(std::string const& text) {
  std::fprintf(stderr, "%sagenthost: %s\n", journalErr ? SD_ERR : "", text.c_str());
}

// --trace, else TRACE, else the fallback.
std::string traceSpecText(Options const& o, std::string const& fallback) {
  if (o.trace)
    return *o.trace;
  if (char const* env = std::getenv("TRACE"); env && *env)
    return env;
  return fallback;
}

// Reads lines typed on stdin and carries each out as a step.
class CommandInput {
 public:
  explicit CommandInput(Session& s) : session_(s) {
    Kiv::EventLoop::instance().fdWatchIs(0, [this] { readable(); });
  }
  ~CommandInput() { Kiv::EventLoop::instance().fdWatchDel(0); }

 private:
  void readable() {
    char buf[1024];
    ssize_t n = ::read(0, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
      return;
    if (n <= 0) {
      Kiv::EventLoop::instance().fdWatchDel(0);
      return;
    }
    pending_.append(buf, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = pending_.find('\n')) != std::string::npos;) {
      std::string line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      command(line);
    }
  }

  void command(std::string const& line) {
    if (line.find_first_not_of(" \t\r") == std::string::npos)
      return;
    try {
      auto step = parseStep(loadYamlText(line, "stdin"), "stdin", "the command", false);
      World w{session_, nullptr};
      runStep(step, w);
    } catch (InputError const& e) {
      session_.timeline().line("input", e.what());
    }
  }

  Session& session_;
  std::string pending_;
};

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
    if (!o.scenario.empty()) {
      auto sc = loadScenario(o.scenario);
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

namespace {

// SIGINT and SIGTERM (and SIGHUP, when a run asks for it) arrive through
// the loop while it runs in real time, so that teardown and reloads run from
// the loop's own thread and never inside an agent operation.
class StopSignals {
 public:
  StopSignals() {
    sigemptyset(&sigs_);
    sigaddset(&sigs_, SIGINT);
    sigaddset(&sigs_, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &sigs_, nullptr);
    fd_ = ::signalfd(-1, &sigs_, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0)
      throw std::runtime_error(std::string("signalfd: ") + std::strerror(errno));
    Kiv::EventLoop::instance().fdWatchIs(fd_, [this] {
      signalfd_siginfo si;
      bool hangup = false;
      while (::read(fd_, &si, sizeof si) == sizeof si) {
        if (si.ssi_signo == SIGHUP)
          hangup = true;
        else
          stoppedBy_ = si.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM";
      }
      if (!stoppedBy_.empty())
        Kiv::EventLoop::instance().stop();
      else if (hangup && hangup_)
        hangup_();
    });
  }
  // From now on SIGHUP calls fn from the loop instead of ending the process.
  void hangupIs(std::function<void()> fn) {
    hangup_ = std::move(fn);
    sigaddset(&sigs_, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &sigs_, nullptr);
    ::signalfd(fd_, &sigs_, 0);
  }
  ~StopSignals() {
    Kiv::EventLoop::instance().fdWatchDel(fd_);
    ::close(fd_);
  }
  StopSignals(StopSignals const&) = delete;
  StopSignals& operator=(StopSignals const&) = delete;
  // The signal that stopped the loop, or empty.
  std::string const& stoppedBy() const noexcept { return stoppedBy_; }

 private:
  sigset_t sigs_;
  int fd_ = -1;
  std::string stoppedBy_;
  std::function<void()> hangup_;
};

// The signals of a real-time run, or null after saying why they cannot be
// had.
std::unique_ptr<StopSignals> stopSignals() {
  try {
    return std::make_unique<StopSignals>();
  } catch (std::runtime_error const& e) {
    complain(e.what());
    return nullptr;
  }
}

// The control socket of a real-time run, unless --no-control. When the
// default path is taken by another host this run goes without one; a path
// given with --control must work. Throws std::runtime_error.
std::unique_ptr<ControlServer> controlServer(Options const& o, ControlContext& context,
                                             std::function<void(std::string const&)> const& tell) {
  if (o.noControl)
    return nullptr;
  std::string path = o.control.empty() ? Control::defaultSocketPath() : o.control;
  auto handler = [&context](std::vector<std::string> const& argv) {
    return controlCommand(context, argv);
  };
  try {
    auto server = std::make_unique<ControlServer>(path, handler);
    tell("control socket: " + path + " (try: agentctl" +
         (o.control.empty() ? "" : " --socket " + path) + " show agent)");
    return server;
  } catch (ControlSocketBusy const& e) {
    if (!o.control.empty())
      throw;
    tell(std::string(e.what()) + "; running without a control socket (--control PATH gives one)");
    return nullptr;
  }
}

// The /metrics endpoint when asked for, made before the session: its
// threads then start with the stop signals blocked, and it listens in the
// host's own network namespace even when the agent gets a private one.
std::unique_ptr<MetricsServer> metricsServerFor(Options const& o) {
  if (o.metrics.empty())
    return nullptr;
  return std::make_unique<MetricsServer>(o.metrics);
}

}  // namespace

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

// The appliance's real MDIO bus, opened in the host's own network namespace
// and checked port by port; null for the simulated chip. Throws
// MiiProbeError.
Orba::Ptr<Hardware::Mdio::Bus> checkedMdioBus(ApplianceDesc const& a) {
  if (a.mdio != MdioTransport::miiIoctl)
    return {};
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
  StateDb db(appliance);
  say("probing " + appliance.file + ": MDIO bus " + db.bus().description());
  try {
    auto lines = probeMdio(db.bus(), appliance.portUsers(), true);
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

  std::unique_ptr<StopSignals> signals = stopSignals();
  if (!signals)
    return kExitSetup;

  Timeline timeline(stdout, journalOut);
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
  } journalTrace(journalErr);
  for (auto const& l : describeAppliance(appliance))
    say("appliance " + l);
  ServiceManager manager;
  // Before the session: it may move the host into a private namespace,
  // where the appliance's netdevice is not to be found.
  Orba::Ptr<Hardware::Mdio::Bus> bus;
  try {
    bus = checkedMdioBus(appliance);
  } catch (MiiProbeError const& e) {
    complain(e.what());
    return kExitSetup;
  }
  std::unique_ptr<MetricsServer> metricsServer;
  std::unique_ptr<Session> session;
  std::unique_ptr<ControlContext> control;
  std::unique_ptr<ControlServer> server;
  std::unique_ptr<Service> service;
  try {
    metricsServer = metricsServerFor(o);
    session = std::make_unique<Session>(appliance, o.session, timeline, bus);
    if (metricsServer) {
      metricsServer->serve(*session->metrics());
      say("metrics: " + metricsServer->url());
    }
    say("CPU netdevices: " + session->cpuModeText());
    session->load();
    say("agent " + session->library().name + " loaded from " + session->library().path);
    control = std::make_unique<ControlContext>(
        ControlContext{*session, handleTraceLevels, handleTraceLevelsIs});
    server = controlServer(o, *control, say);
    session->start();
    service = std::make_unique<Service>(*session, manager, say, complain);
  } catch (std::exception const& e) {
    complain(e.what());
    return kExitSetup;
  }
  if (manager.active()) {
    char interval[64] = "no watchdog";
    if (manager.watchdogInterval() > 0)
      std::snprintf(interval, sizeof interval, "watchdog keep-alive every %g s",
                    manager.watchdogInterval() / 2);
    say(std::string("service manager: readiness and status through NOTIFY_SOCKET; ") + interval);
  }
  signals->hangupIs([&] { service->reload(o.appliance); });
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
    CommandInput input(*session);
    loop.modeIs(Kiv::EventLoop::Mode::realTime);
    loop.run();
  }
  std::string stoppedBy = signals->stoppedBy();
  service->stopping();
  service.reset();
  signals.reset();
  server.reset();
  if (metricsServer)
    metricsServer->withdraw(*session->metrics());
  metricsServer.reset();

  say(stoppedBy +
      ": stopping; the agent's root is destroyed (netdevices keep their protodown "
      "setting)");
  session->stop();
  say("agent stopped");
  bool kept = session->netns() && session->netns()->keep();
  std::string nsName = session->netns() ? session->netns()->name() : "";
  bool named = session->netns() && session->netns()->named();
  session.reset();
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
    sc = loadScenario(o.scenario);
  } catch (InputError const& e) {
    complain(e.what());
    return kExitUsage;
  }
  TraceSpec display;
  try {
    display = TraceSpec::parse(traceSpecText(o, sc.trace));
  } catch (std::invalid_argument const& e) {
    complain(e.what());
    return kExitUsage;
  }
  std::unique_ptr<StopSignals> signals;
  if (o.realTime && !(signals = stopSignals()))
    return kExitSetup;

  Timeline timeline(stdout, journalOut);
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
    std::unique_ptr<MetricsServer> metricsServer;
    std::unique_ptr<Session> session;
    std::unique_ptr<ControlContext> control;
    std::unique_ptr<ControlServer> server;
    try {
      metricsServer = metricsServerFor(o);
      SessionOptions so = o.session;
      for (auto const& step : sc.steps)
        so.metrics = so.metrics || step.metric;
      session = std::make_unique<Session>(sc.appliance, so, timeline);
      if (metricsServer) {
        metricsServer->serve(*session->metrics());
        timeline.note("metrics: " + metricsServer->url());
      }
      timeline.note("CPU netdevices: " + session->cpuModeText());
      timeline.note("trace shown: " + display.text());
      session->load();
      timeline.note("agent: " + session->library().name + " from " + session->library().path);
      if (o.realTime) {
        control = std::make_unique<ControlContext>(ControlContext{
            *session, [&traces](std::string const& f) { return traces.display().mask(f); },
            [&traces](std::string const& f, std::uint32_t m) {
              traces.displayIs(f, m);
              if (!traces.watching())
                Kiv::TraceHandle::maskSpecIs(f + "/" + levelsText(m));
            }});
        server = controlServer(o, *control, [&](std::string const& t) { timeline.note(t); });
      }
      session->start();
    } catch (std::exception const& e) {
      Kiv::traceSinkIs(previousSink);
      complain(e.what());
      return kExitSetup;
    }
    auto& loop = Kiv::EventLoop::instance();
    World world{*session, &traces};
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
      server.reset();
      if (metricsServer)
        metricsServer->withdraw(*session->metrics());
    } else {
      for (auto const& step : sc.steps) {
        if (step.at > loop.now())
          loop.advance(step.at - loop.now());
        tally.add(step, runStep(step, world));
      }
      if (sc.end > loop.now())
        loop.advance(sc.end - loop.now());
    }
    timeline.line("end", "stopping the agent");
    session->stop();
  }
  Kiv::traceSinkIs(previousSink);
  stdoutLine("result: " + std::to_string(tally.passed) + " passed, " +
             std::to_string(tally.failed) + " failed\n");
  return tally.failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace Host
