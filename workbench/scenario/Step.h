#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/appliance/Yaml.h"
#include "host/show/TraceOutput.h"

namespace Host {

class RunningAgent;

// What events and expectations act on.
struct StepContext {
  RunningAgent& agent;
  TraceLog const* traces = nullptr;  // null outside scenarios
  // What the event just carried out has to say besides its own line (a
  // warning), shown after it, one note each.
  std::vector<std::string> remarks;
};

// The outcome of an expectation: whether it held, and what was found
// instead (or, when it held, a remark on how it was checked).
struct CheckResult {
  bool ok = true;
  std::string detail;
  CheckResult(std::nullopt_t) {}
  CheckResult(std::optional<std::string> failure) : ok(!failure), detail(failure.value_or("")) {}
  static CheckResult holds(std::string remark) {
    CheckResult v(std::nullopt);
    v.detail = std::move(remark);
    return v;
  }
};

// One timed step of a scenario (or one command typed to a running host):
// an event that changes the appliance or the agent (workbench/scenario/Events),
// an expectation that checks what the agent did
// (workbench/scenario/Expectations), or a note for the reader.
struct Step {
  enum class Kind { event, expect, note };
  Kind kind = Kind::note;
  double at = 0;
  Where where;
  std::string text;  // as the timeline shows it
  // Events: carry it out; throws std::exception when it cannot be done.
  std::function<void(StepContext&)> apply;
  // Expectations.
  std::function<CheckResult(StepContext&)> check;
  // The text a trace expectation looks for in trace lines.
  std::optional<std::string> traceText;
  // A metric expectation: the run keeps metrics for it.
  bool metric = false;
};

// Virtual time a scenario may cover: a typo of a few digits must not keep
// the agent polling for years.
constexpr double kLongestScenario = 30 * 24 * 3600.0;

// Reads one step from a mapping: `at` (when withTime) and one event, or
// `expect`, or `note`. Refuses with InputError.
Step parseStep(YAML::Node const& node, std::string const& file, std::string const& what,
               bool withTime);

// Outcome of running a step: applied or held (ok), or the reason not.
struct StepResult {
  bool ok = true;
  std::string detail;
};
// Carries out one step and prints it on the running agent's timeline.
StepResult runStep(Step const& step, StepContext& context);

}  // namespace Host
