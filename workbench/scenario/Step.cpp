#include "workbench/scenario/Step.h"

#include <vector>

#include "host/agent/RunningAgent.h"
#include "host/show/Timeline.h"
#include "workbench/scenario/Events.h"
#include "workbench/scenario/Expectations.h"

namespace Host {

Step parseStep(YAML::Node const& node, std::string const& file, std::string const& what,
               bool withTime) {
  Step s;
  s.where = where(file, node);
  if (!node.IsMap())
    refuse(s.where, what + " must be a mapping");
  std::vector<std::string> keys;
  for (auto const& kv : node) {
    std::string k = kv.first.IsScalar() ? kv.first.Scalar() : "?";
    if (k != "at")
      keys.push_back(k);
  }
  if (withTime) {
    if (!node["at"])
      refuse(s.where, what + " lacks 'at' (seconds of virtual time)");
    s.at = scalarSeconds(file, node["at"], what + ".at");
    if (s.at > kLongestScenario)
      refuse(s.where, what + ".at is past 30 days of virtual time");
  } else if (node["at"]) {
    refuse(s.where, "'at' has no meaning here");
  }
  if (keys.size() != 1)
    refuse(s.where, what + " needs exactly one of: expect, note, " + eventNames());
  std::string key = keys.front();
  auto value = node[key];
  std::string sub = what + "." + key;
  if (key == "expect") {
    s.kind = Step::Kind::expect;
    parseExpectation(s, file, value, sub);
  } else if (key == "note") {
    s.kind = Step::Kind::note;
    s.text = scalarText(file, value, sub);
  } else {
    s.kind = Step::Kind::event;
    if (!parseEvent(s, key, file, value, sub)) {
      refuse(where(file, value),
             "unknown step '" + clipped(key) + "' (one of: expect, note, " + eventNames() + ")");
    }
  }
  return s;
}

StepResult runStep(Step const& step, StepContext& context) {
  auto const& tl = context.agent.timeline();
  StepResult o;
  switch (step.kind) {
    case Step::Kind::note:
      tl.line("note", step.text);
      break;
    case Step::Kind::event:
      context.remarks.clear();
      try {
        step.apply(context);
        context.agent.afterHostChange();
        tl.line("event", step.text);
        for (auto const& r : context.remarks)
          tl.line("note", r);
      } catch (std::exception const& e) {
        o = {false, e.what()};
        tl.line("event", step.text + " ... FAILED: " + e.what() + " (" + step.where.text() + ")");
      }
      break;
    case Step::Kind::expect:
      try {
        auto v = step.check(context);
        o = {v.ok, v.detail};
      } catch (std::exception const& e) {
        o = {false, e.what()};
      }
      if (o.ok) {
        tl.line("expect", step.text + " ... ok" + (o.detail.empty() ? "" : " (" + o.detail + ")"));
      } else {
        tl.line("expect", step.text + " ... FAILED: " + o.detail + " (" + step.where.text() + ")");
      }
      break;
  }
  return o;
}

}  // namespace Host
