#include "host/Runner.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/Scenario.h"
#include "platform/kiv/EventLoop.h"
#include "platform/kiv/Trace.h"

namespace Host {

namespace {

constexpr char const* kRunTrace = "Bcm53134Agent/0,1 CpuIfMgr/0,1";

void say(std::string const& text) {
  std::fprintf(stdout, "agenthost: %s\n", text.c_str());
  std::fflush(stdout);
}

void complain(std::string const& text) {
  std::fprintf(stderr, "agenthost: %s\n", text.c_str());
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
  for (auto const& s : a.slices) {
    std::string intfs;
    for (auto const& i : s.interfaces)
      intfs += (intfs.empty() ? "" : ", ") + i.intfId + " " + Interface::stringValue(i.state);
    r.push_back("  slice " + s.name + ": " + (intfs.empty() ? "no interfaces" : intfs));
  }
  std::string links;
  for (auto const& [port, up] : a.links)
    links += (links.empty() ? "" : ", ") + std::to_string(port) + (up ? " up" : " down");
  r.push_back("  chip links: " + (links.empty() ? "all down" : links));
  return r;
}

int checkInput(Options const& o) {
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

int runAppliance(Options const& o) {
  std::string spec = traceSpecText(o, kRunTrace);
  try {
    Kiv::TraceHandle::maskSpecIs(spec);
  } catch (std::invalid_argument const& e) {
    complain(e.what());
    return kExitUsage;
  }
  ApplianceDesc appliance;
  try {
    appliance = loadAppliance(o.appliance);
  } catch (InputError const& e) {
    complain(e.what());
    return kExitUsage;
  }

  // SIGINT and SIGTERM arrive through the loop, so that teardown runs from
  // the loop's own thread and never inside an agent operation.
  sigset_t sigs;
  sigemptyset(&sigs);
  sigaddset(&sigs, SIGINT);
  sigaddset(&sigs, SIGTERM);
  ::sigprocmask(SIG_BLOCK, &sigs, nullptr);
  int sigfd = ::signalfd(-1, &sigs, SFD_CLOEXEC | SFD_NONBLOCK);
  if (sigfd < 0) {
    complain(std::string("signalfd: ") + std::strerror(errno));
    return kExitSetup;
  }

  Timeline timeline(stdout);
  for (auto const& l : describeAppliance(appliance))
    say("appliance " + l);
  std::unique_ptr<Session> session;
  try {
    session = std::make_unique<Session>(appliance, o.session, timeline);
    say("CPU netdevices: " + session->cpuModeText());
    session->load();
    say("agent " + session->library().name + " loaded from " + session->library().path);
    session->start();
  } catch (std::exception const& e) {
    complain(e.what());
    return kExitSetup;
  }
  if (!o.session.statusFile.empty())
    say("status file: " + o.session.statusFile);
  say("trace: " + spec + " (stderr)");
  say("running in real time; Ctrl-C or SIGTERM stops. Type steps on stdin, e.g. "
      "link: {port: 1, state: down}");

  auto& loop = Kiv::EventLoop::instance();
  std::string stoppedBy;
  loop.fdWatchIs(sigfd, [&] {
    signalfd_siginfo si;
    while (::read(sigfd, &si, sizeof si) == sizeof si)
      stoppedBy = si.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM";
    if (!stoppedBy.empty())
      loop.stop();
  });
  {
    CommandInput input(*session);
    loop.modeIs(Kiv::EventLoop::Mode::realTime);
    loop.run();
  }
  loop.fdWatchDel(sigfd);
  ::close(sigfd);

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

int runScenario(Options const& o) {
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

  Timeline timeline(stdout);
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

  unsigned passed = 0, failed = 0;
  {
    std::unique_ptr<Session> session;
    try {
      session = std::make_unique<Session>(sc.appliance, o.session, timeline);
      timeline.note("CPU netdevices: " + session->cpuModeText());
      timeline.note("trace shown: " + display.text());
      session->load();
      timeline.note("agent: " + session->library().name + " from " + session->library().path);
      session->start();
    } catch (std::exception const& e) {
      Kiv::traceSinkIs(previousSink);
      complain(e.what());
      return kExitSetup;
    }
    auto& loop = Kiv::EventLoop::instance();
    World world{*session, &traces};
    for (auto const& step : sc.steps) {
      if (step.at > loop.now())
        loop.advance(step.at - loop.now());
      auto r = runStep(step, world);
      if (step.kind == Step::Kind::expect)
        ++(r.ok ? passed : failed);
      else if (!r.ok)
        ++failed;  // an event that could not be carried out fails the scenario
    }
    if (sc.end > loop.now())
      loop.advance(sc.end - loop.now());
    timeline.line("end", "stopping the agent");
    session->stop();
  }
  Kiv::traceSinkIs(previousSink);
  std::printf("result: %u passed, %u failed\n", passed, failed);
  std::fflush(stdout);
  return failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace Host
