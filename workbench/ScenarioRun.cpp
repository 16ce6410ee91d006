#include "workbench/ScenarioRun.h"

#include <malloc.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>

#include "host/HostLines.h"
#include "host/Run.h"
#include "host/RunRecord.h"
#include "host/Runner.h"
#include "host/agent/RunningAgent.h"
#include "host/appliance/StateDb.h"
#include "host/control/ControlCommands.h"
#include "host/os/Signals.h"
#include "host/record/FieldRecord.h"
#include "host/show/Timeline.h"
#include "host/show/TraceOutput.h"
#include "platform/bus/record/ReplayBus.h"
#include "platform/kiv/EventLoop.h"
#include "platform/kiv/Trace.h"
#include "workbench/scenario/RecordReplay.h"
#include "workbench/scenario/Scenario.h"

namespace Host {

int checkScenario(Options const& o) {
  detectJournal();
  try {
    auto sc = o.replay.empty() ? loadScenario(o.scenario) : replayScenario(o.replay);
    char end[32];
    std::snprintf(end, sizeof end, "%g", sc.end);
    say(sc.file + ": scenario \"" + sc.name + "\", " + std::to_string(sc.steps.size()) +
        " steps, ends at " + end + " s");
    for (auto const& l : describeAppliance(sc.appliance))
      say(l);
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

struct Tally {
  unsigned passed = 0, failed = 0;
  void add(Step const& step, StepResult const& r) {
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
  StepPlayer(Scenario const& sc, StepContext& context, Tally& tally)
      : sc_(sc), context_(context), tally_(tally), t0_(Kiv::EventLoop::instance().now()) {
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
      tally_.add(step, runStep(step, context_));
    }
    if (next_ < sc_.steps.size())
      arm(t0_ + sc_.steps[next_].at);
    else if (now < sc_.end)
      arm(t0_ + sc_.end);
    else
      loop.stop();
  }

  Scenario const& sc_;
  StepContext& context_;
  Tally& tally_;
  Kiv::Seconds t0_;
  std::size_t next_ = 0;
};

// The timeline's head: the scenario's name, its description and the
// appliance it runs on.
void noteScenario(Timeline& timeline, Scenario const& sc) {
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
}

// The bus a replay answers from, and where its record ends.
void noteReplay(Timeline& timeline, Scenario const& sc,
                Hardware::Mdio::Record::ReplayBus const& replay) {
  timeline.note("MDIO bus: " + replay.description() + " (" +
                std::to_string(sc.replay->accesses.size()) + " accesses to " +
                std::to_string(sc.replay->end) + " s)");
  if (!sc.replay->cut.empty())
    timeline.note(sc.replay->cut);
  if (sc.replay->endReason == "reload")
    timeline.note(sc.replay->name + ":" + std::to_string(sc.replay->endLine) +
                  ": the record ends where the appliance was reloaded with changes; "
                  "the replay ends there");
}

// The steps at their times in real time, until the last or a stop signal.
void playInRealTime(Scenario const& sc, StepContext& context, Tally& tally, Timeline& timeline,
                    Signals const& signals) {
  auto& loop = Kiv::EventLoop::instance();
  timeline.note("running in real time; Ctrl-C or SIGTERM stops early");
  loop.modeIs(Kiv::EventLoop::Mode::realTime);
  StepPlayer player(sc, context, tally);
  loop.run();
  if (player.remaining() > 0) {
    timeline.line(
        "end", signals.stoppedBy() + ": " + std::to_string(player.remaining()) + " steps not run");
    tally.failed += static_cast<unsigned>(player.remaining());
  }
}

// The steps in virtual time, the loop advanced to each; a replay that is
// over (a divergence, or the record's end) ends the run.
void playInVirtualTime(Scenario const& sc, StepContext& context, Tally& tally, Timeline& timeline,
                       Orba::Ptr<Hardware::Mdio::Record::ReplayBus> const& replay) {
  auto& loop = Kiv::EventLoop::instance();
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
    tally.add(step, runStep(step, context));
    ++stepsRun;
  }
  if (!over() && sc.end > loop.now())
    advanceTo(sc.end);
  if (replay) {
    replay->runEnds();
    if (replay->divergence())
      ++tally.failed;
    if (stepsRun < sc.steps.size()) {
      timeline.line(
          "end", std::to_string(sc.steps.size() - stepsRun) + " steps not run: the replay is over");
      tally.failed += static_cast<unsigned>(sc.steps.size() - stepsRun);
    }
  }
}

// The scenario or replay to run and the trace lines to show; the exit
// status when the files or the options refuse.
std::optional<int> scenarioRefusal(Options const& o, Scenario& sc, TraceSpec& display) {
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
  try {
    display = TraceSpec::parse(traceSpecText(o, sc.trace));
  } catch (std::invalid_argument const& e) {
    complain(e.what());
    return kExitUsage;
  }
  return std::nullopt;
}

}  // namespace

int runScenario(Options const& o) {
  detectJournal();
  Scenario sc;
  TraceSpec display;
  if (auto refusal = scenarioRefusal(o, sc, display))
    return *refusal;
  std::unique_ptr<Signals> signals;
  if (o.realTime && !(signals = stopSignals()))
    return kExitSetup;

  Timeline timeline(stdout, stdoutIsJournal());
  noteScenario(timeline, sc);

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
      run = std::make_unique<Run>(o);
      SessionOptions options = o.session;
      for (auto const& step : sc.steps)
        options.metrics = options.metrics || step.metric;
      run->sessionIs(sc.appliance, options, timeline, replay);
      if (replay)
        noteReplay(timeline, sc, *replay);
      if (startRecord(o, run->agent(), note))
        run->agent().db().recorder().endHandlerIs(
            [&timeline](std::string const& t) { timeline.line("record", t); });
      run->metricsServe(note);
      note("CPU netdevices: " + run->cpuModeText());
      note("trace shown: " + display.text());
      run->agentLoad();
      note("agent: " + run->agent().library().name + " from " + run->agent().library().path);
      if (o.realTime)
        run->controlServe(
            o, note, [&traces](std::string const& f) { return traces.display().mask(f); },
            [&traces](std::string const& f, std::uint32_t m) {
              traces.displayIs(f, m);
              if (!traces.watching())
                Kiv::TraceHandle::maskSpecIs(f + "/" + levelsText(m));
            });
      run->agentStart();
    } catch (std::exception const& e) {
      run.reset();
      Kiv::traceSinkIs(previousSink);
      complain(e.what());
      return dynamic_cast<InputError const*>(&e) ? kExitUsage : kExitSetup;
    }
    RunningAgent& agent = run->agent();
    if (signals)
      signals->hangupIs([&] { agent.reload("SIGHUP"); });
    StepContext context{agent, &traces};
    if (o.realTime) {
      playInRealTime(sc, context, tally, timeline, *signals);
      run->stopServing();
    } else {
      playInVirtualTime(sc, context, tally, timeline, replay);
    }
    endRecord(agent, note);
    timeline.line("end", "stopping the agent");
    run->stopAgent();
  }
  Kiv::traceSinkIs(previousSink);
  stdoutLine("result: " + std::to_string(tally.passed) + " passed, " +
             std::to_string(tally.failed) + " failed\n");
  return tally.failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace Host
