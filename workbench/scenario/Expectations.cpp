#include "workbench/scenario/Expectations.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <vector>

#include "host/agent/RunningAgent.h"
#include "host/appliance/StateDb.h"
#include "host/attr/AttrPath.h"
#include "host/os/PrivateNetns.h"
#include "host/show/Metrics.h"
#include "workbench/scenario/StepArgs.h"

namespace Host {

namespace {

std::optional<std::string> mismatch(std::string const& got, std::string const& want) {
  if (got == want)
    return std::nullopt;
  return "got " + got;
}

// The state the agent's CPU interface manager holds for a netdevice, or
// "absent".
std::string cpuInterfaceState(StepContext& wd, std::string const& name) {
  auto v = readAttr(resolvePath(rootOf(wd), "bcm53134Sm.cpuIfMgr.cpuInterface[" + name + "]"));
  std::string got = "absent";
  if (auto const* h = std::any_cast<Orba::Ptr<Orba::Node>>(&v.raw()); h && *h)
    got = Kiv::Generic::get(**h, "state").text();
  return got;
}

// What the agent publishes.

void linkStatusExpectation(Step& s, MapReader const& e) {
  MapReader m(e.file(), e.node(), e.what(), {"port", "linkStatus"});
  unsigned p = port(m);
  std::string want = m.text("linkStatus");
  if (want != "0" && want != "1" && want != "absent")
    refuse(m.at("linkStatus"),
           m.what() + ".linkStatus must be 0, 1 or absent, not '" + clipped(want) + "'");
  s.text = portText(p) + " link status " + want;
  s.check = [p, want](StepContext& wd) {
    auto ps = wd.agent.db().status().port(static_cast<Hardware::Bcm53134::PortId>(p));
    return mismatch(ps ? std::to_string(static_cast<unsigned>(ps->linkStatus())) : "absent", want);
  };
}

void errorExpectation(Step& s, MapReader const& e) {
  MapReader m(e.file(), e.node(), e.what(), {"error", "errorContains"});
  bool exact = m.has("error");
  std::string want = exact ? m.text("error") : m.text("errorContains");
  s.text = exact ? (want.empty() ? "no error published" : "error \"" + want + "\"")
                 : "error containing \"" + want + "\"";
  s.check = [exact, want](StepContext& wd) -> std::optional<std::string> {
    auto const& got = wd.agent.db().status().error();
    bool ok = exact ? got == want : got.find(want) != std::string::npos;
    if (ok)
      return std::nullopt;
    return got.empty() ? std::string("no error") : "\"" + got + "\"";
  };
}

// The simulated chip.

void registerExpectation(Step& s, MapReader const& e) {
  MapReader m(e.file(), e.node(), e.what(), {"port", "register", "value", "reads", "writes"});
  unsigned p = port(m);
  auto r = chipReg(m, "register");
  int given = m.has("value") + m.has("reads") + m.has("writes");
  if (given != 1)
    refuse(m.at(), m.what() + " needs exactly one of value, reads or writes");
  auto a = static_cast<Hardware::Mdio::PortAddr>(p);
  if (m.has("value")) {
    auto v = m.number("value", 0, 0xffff);
    s.text = "chip " + portText(p) + " " + r.name + " = " + hex(v);
    s.check = [a, r, v](StepContext& wd) {
      return mismatch(hex(wd.agent.db().chip().reg(a, r.reg)), hex(v));
    };
  } else {
    bool reads = m.has("reads");
    auto n = m.number(reads ? "reads" : "writes", 0, ~0u);
    s.text = "chip " + portText(p) + " " + r.name + (reads ? " reads: " : " writes: ") +
             std::to_string(n);
    s.check = [a, r, n, reads](StepContext& wd) {
      auto& chip = wd.agent.db().chip();
      return mismatch(std::to_string(reads ? chip.reads(a, r.reg) : chip.writes(a, r.reg)),
                      std::to_string(n));
    };
  }
}

void chipCounterExpectation(Step& s, MapReader const& e) {
  MapReader m(e.file(), e.node(), e.what(), {"chipAccesses", "chipWrites", "miiStatusReads"});
  if (m.has("chipAccesses") + m.has("chipWrites") + m.has("miiStatusReads") != 1)
    refuse(m.at(), m.what() + " needs exactly one of chipAccesses, chipWrites, miiStatusReads");
  char const* key = m.has("chipAccesses") ? "chipAccesses"
                    : m.has("chipWrites") ? "chipWrites"
                                          : "miiStatusReads";
  auto n = m.number(key, 0, ~0u);
  std::string k = key;
  s.text = std::string(k == "chipAccesses" ? "register accesses on the chip: "
                       : k == "chipWrites" ? "register writes on the chip: "
                                           : "MII status reads on the chip: ") +
           std::to_string(n);
  s.check = [k, n](StepContext& wd) {
    auto& chip = wd.agent.db().chip();
    unsigned got = k == "chipAccesses" ? chip.registerAccesses()
                   : k == "chipWrites" ? chip.registerWrites()
                                       : chip.miiStatusReadsTotal();
    return mismatch(std::to_string(got), std::to_string(n));
  };
}

// The CPU netdevices.

void cpuInterfaceExpectation(Step& s, MapReader const& e) {
  MapReader m(e.file(), e.node(), e.what(), {"cpuInterface", "state"});
  std::string name = m.text("cpuInterface");
  std::string want = m.text("state");
  s.text = "CPU interface " + name + " " + want + " in the agent's manager";
  s.check = [name, want](StepContext& wd) -> std::optional<std::string> {
    return mismatch(cpuInterfaceState(wd, name), want);
  };
}

void protodownExpectation(Step& s, MapReader const& e) {
  MapReader m(e.file(), e.node(), e.what(), {"protodown", "value"});
  std::string dev = m.text("protodown");
  bool want = m.flag("value", true);
  s.text = "netdevice " + dev + " protodown " + std::string(want ? "on" : "off");
  s.check = [dev, want](StepContext& wd) -> CheckResult {
    if (auto* ns = wd.agent.netns()) {
      std::string why;
      auto got = ns->protodown(dev, &why);
      if (!got)
        return std::optional<std::string>("no netdevice " + dev + ": " + why);
      return *got == want ? CheckResult(std::nullopt)
                          : std::optional<std::string>(*got ? "protodown on" : "protodown off");
    }
    if (wd.agent.cpuMode() != CpuMode::simulated)
      return std::optional<std::string>("no private namespace to look into");
    // Simulated: the manager's verdict stands for the netdevice.
    std::string state = cpuInterfaceState(wd, dev);
    bool got = state == "disabled";
    if (got == want)
      return CheckResult::holds("simulated: interface " + dev + " is " + state + " in the manager");
    return std::optional<std::string>("simulated interface " + dev + " is " + state);
  };
}

// Any attribute of the agent.

void attrExpectation(Step& s, MapReader const& e) {
  MapReader m(e.file(), e.node(), e.what(), {"attr", "value", "count", "type"});
  std::string path = m.text("attr");
  if (m.has("value") + m.has("count") + m.has("type") != 1)
    refuse(m.at(), m.what() + " needs exactly one of value, count or type");
  if (m.has("value")) {
    std::string want = m.text("value");
    s.text = path + " = " + want;
    s.check = [path, want](StepContext& wd) -> std::optional<std::string> {
      auto v = readAttr(resolvePath(rootOf(wd), path));
      if (valueMatches(v, want))
        return std::nullopt;
      return "got " + valueText(v);
    };
  } else if (m.has("count")) {
    auto n = m.number("count", 0, ~0u);
    s.text = path + " has " + std::to_string(n) + " members";
    s.check = [path, n](StepContext& wd) {
      auto t = resolvePath(rootOf(wd), path);
      return mismatch(std::to_string(Kiv::Generic::count(*t.owner, t.attr->name)),
                      std::to_string(n));
    };
  } else {
    std::string type = m.text("type");
    s.text = path + " is a " + type;
    s.check = [path, type](StepContext& wd) -> std::optional<std::string> {
      auto v = readAttr(resolvePath(rootOf(wd), path));
      auto const* h = std::any_cast<Orba::Ptr<Orba::Node>>(&v.raw());
      std::string got = !h || !*h          ? "absent"
                        : (*h)->typeData() ? (*h)->typeData()->name
                                           : "an unregistered type";
      return mismatch(got, type);
    };
  }
}

// The trace.

void traceExpectation(Step& s, MapReader const& e) {
  MapReader m(e.file(), e.node(), e.what(), {"trace", "present", "since"});
  std::string text = m.text("trace");
  bool present = m.flag("present", true);
  double since = m.has("since") ? m.seconds("since") : 0.0;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", since);
  s.traceText = text;
  s.text = std::string("trace line ") + (present ? "" : "without ") + "\"" + text + "\"" +
           (since > 0 ? std::string(" since ") + buf : std::string());
  s.check = [text, present, since](StepContext& wd) -> std::optional<std::string> {
    if (!wd.traces)
      return "no trace log here";
    bool has = wd.traces->contains(text, since);
    if (has == present)
      return std::nullopt;
    return present ? "no such line" : "such a line was written";
  };
}

// The metrics.

void metricExpectation(Step& s, MapReader const& e) {
  MapReader m(e.file(), e.node(), e.what(), {"metric", "labels", "value"});
  std::string const name = m.text("metric");
  std::map<std::string, std::string> labels;
  std::string shown;
  if (auto l = m.optional("labels")) {
    if (!l.IsMap())
      refuse(m.at("labels"), e.what() + ".labels must be a mapping of label names to values");
    for (auto const& kv : l) {
      auto k = scalarText(e.file(), kv.first, e.what() + ".labels");
      labels[k] = scalarText(e.file(), kv.second, e.what() + ".labels." + k);
    }
    for (auto const& [k, v] : labels)
      shown += (shown.empty() ? "{" : ",") + k + "=\"" + v + "\"";
    shown += shown.empty() ? "" : "}";
  }
  std::string const text = m.text("value");
  char* end = nullptr;
  double const want = std::strtod(text.c_str(), &end);
  if (text.empty() || *end)
    refuse(m.at("value"), e.what() + ".value must be a number, not '" + clipped(text) + "'");
  s.text = "metric " + name + shown + " = " + text;
  s.metric = true;
  s.check = [name, labels, want](StepContext& wd) -> std::optional<std::string> {
    auto const* metrics = wd.agent.metrics();
    if (!metrics)
      return "no metrics are kept in this run";
    auto got = metrics->sample(name, labels);
    if (!got)
      return "no such sample";
    if (std::fabs(*got - want) <= 1e-9 * std::max(1.0, std::fabs(want)))
      return std::nullopt;
    char buf[64];
    std::snprintf(buf, sizeof buf, "got %.17g", *got);
    return std::string(buf);
  };
}

// Every expectation, picked by the first of its keys present, in the order
// messages list them.
struct ExpectationKind {
  std::vector<char const*> picks;  // any of these keys picks it
  void (*parse)(Step&, MapReader const&);
};

std::vector<ExpectationKind> const& expectationKinds() {
  static std::vector<ExpectationKind> const kinds{
      {{"linkStatus"}, linkStatusExpectation},
      {{"error", "errorContains"}, errorExpectation},
      {{"register"}, registerExpectation},
      {{"chipAccesses", "chipWrites", "miiStatusReads"}, chipCounterExpectation},
      {{"cpuInterface"}, cpuInterfaceExpectation},
      {{"protodown"}, protodownExpectation},
      {{"attr"}, attrExpectation},
      {{"trace"}, traceExpectation},
      {{"metric"}, metricExpectation},
  };
  return kinds;
}

}  // namespace

void parseExpectation(Step& s, std::string const& file, YAML::Node const& value,
                      std::string const& what) {
  // Every key any expectation takes; each kind then holds its own to its
  // own keys.
  MapReader e(
      file, value, what,
      {"port",    "linkStatus", "error",        "errorContains", "register",       "value",
       "reads",   "writes",     "chipAccesses", "chipWrites",    "miiStatusReads", "cpuInterface",
       "state",   "protodown",  "attr",         "count",         "type",           "trace",
       "present", "since",      "metric",       "labels"});
  std::string names;
  for (auto const& kind : expectationKinds()) {
    for (auto const* key : kind.picks) {
      if (e.has(key)) {
        kind.parse(s, e);
        return;
      }
      names += std::string(names.empty() ? "" : ", ") + key;
    }
  }
  refuse(e.at(), what + ": unknown expectation (one of " + names + ")");
}

}  // namespace Host
