#include "host/Scenario.h"

#include <cstdio>

#include "host/AttrPath.h"
#include "host/Session.h"
#include "platform/kiv/Clock.h"

namespace Host {

namespace {

using Chip = Hardware::Mdio::Sim::Bcm53134Chip;

std::string hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

std::string portText(unsigned p) {
  return "port " + std::to_string(p);
}

// A PHY register of the simulated chip by name or number.
struct ChipReg {
  std::uint8_t reg;
  std::string name;
};

ChipReg chipReg(MapReader const& m, char const* key) {
  auto n = m.required(key);
  std::string s = scalarText(m.file(), n, m.what() + "." + key);
  if (s == "extendedControl")
    return {Chip::kExtCtrl, s};
  if (s == "auxControl")
    return {Chip::kAuxCtrl, s};
  if (s == "miiStatus")
    return {Chip::kMiiStatus, s};
  auto v = scalarNumber(m.file(), n,
                        m.what() + "." + key +
                            " (extendedControl, auxControl, "
                            "miiStatus or an MII register number)",
                        0, 31);
  return {static_cast<std::uint8_t>(v), "MII register " + std::to_string(v)};
}

unsigned port(MapReader const& m, char const* key = "port") {
  return static_cast<unsigned>(m.number(key, 0, kMaxPort));
}

std::vector<std::string> textList(MapReader const& m, char const* key) {
  std::vector<std::string> r;
  auto n = m.optional(key);
  if (!n)
    return r;
  if (n.IsScalar()) {
    r.push_back(n.Scalar());
    return r;
  }
  if (!n.IsSequence())
    refuse(where(m.file(), n), m.what() + "." + key + " must be a list of values");
  for (auto const& e : n)
    r.push_back(scalarText(m.file(), e, m.what() + "." + key));
  return r;
}

std::string joined(std::vector<std::string> const& v) {
  std::string r;
  for (auto const& s : v)
    r += (r.empty() ? "" : ", ") + s;
  return r;
}

Orba::Node& rootOf(World& w) {
  auto const& root = w.session.root();
  if (!root)
    throw std::runtime_error("the agent is not running");
  return *root;
}

// Events. Each reads its own arguments and builds the step.

void linkEvent(Step& s, MapReader const& m) {
  unsigned p = port(m);
  std::string state = m.text("state");
  if (state != "up" && state != "down" && state != "flap")
    refuse(m.at("state"),
           m.what() + ".state must be up, down or flap, not '" + clipped(state) + "'");
  s.text = "link " + std::to_string(p) + " " + state +
           (state == "flap" ? " (down and up between two reads: only the latch sees it)" : "");
  s.apply = [p, state](World& w) {
    auto& chip = w.session.db().chip();
    auto a = static_cast<Hardware::Mdio::PortAddr>(p);
    if (state == "flap")
      chip.linkFlap(a);
    else
      chip.linkIs(a, state == "up");
  };
}

void registerEvent(Step& s, MapReader const& m) {
  unsigned p = port(m);
  auto r = chipReg(m, "reg");
  auto v = m.number("value", 0, 0xffff);
  s.text = "chip " + portText(p) + " " + r.name + " set to " + hex(v) + " behind the agent's back";
  s.apply = [p, r, v](World& w) {
    w.session.db().chip().regIs(static_cast<Hardware::Mdio::PortAddr>(p), r.reg,
                                static_cast<std::uint16_t>(v));
  };
}

void readValueEvent(Step& s, MapReader const& m) {
  unsigned p = port(m);
  auto r = chipReg(m, "reg");
  auto v = m.number("value", 0, 0xffff);
  s.text = "the next read of chip " + portText(p) + " " + r.name + " returns " + hex(v);
  s.apply = [p, r, v](World& w) {
    w.session.db().chip().readValueIs(static_cast<Hardware::Mdio::PortAddr>(p), r.reg,
                                      static_cast<std::uint16_t>(v));
  };
}

void failAccessesEvent(Step& s, MapReader const& m) {
  auto count = static_cast<unsigned>(m.number("count", 0, 1000000));
  std::string error = m.text("error", "MDIO access failed");
  if (error.empty())
    refuse(m.at("error"), m.what() + ".error must not be empty");
  s.text = "the next " + std::to_string(count) + " register accesses fail: " + error;
  s.apply = [count, error](World& w) { w.session.db().chip().failNextAccesses(count, error); };
}

void miiReadFailEvent(Step& s, MapReader const& m) {
  unsigned p = port(m);
  bool fail = m.flag("fail", true);
  s.text = "MII status reads of " + portText(p) + (fail ? " fail" : " work again");
  s.apply = [p, fail](World& w) {
    w.session.db().chip().miiReadFailIs(static_cast<Hardware::Mdio::PortAddr>(p), fail);
  };
}

void clearCountersEvent(Step& s) {
  s.text = "chip counters cleared";
  s.apply = [](World& w) { w.session.db().chip().countersClear(); };
}

void enabledStateEvent(Step& s, MapReader const& m) {
  std::string intf = m.text("intf");
  auto state = parseEnabledState(m.file(), m.required("state"), m.what() + ".state");
  s.text = "interface " + intf + " enabled state " + Interface::stringValue(state);
  s.apply = [intf, state](World& w) {
    if (!w.session.db().enabledStateIs(intf, state))
      throw std::runtime_error("no interface configuration " + intf + " in any slice");
  };
}

void intfConfigAddEvent(Step& s, MapReader const& m) {
  std::string slice = m.text("slice");
  IntfConfigDesc d;
  d.intfId = m.text("intf");
  d.state = m.has("state") ? parseEnabledState(m.file(), m.required("state"), m.what() + ".state")
                           : Interface::IntfEnabledState::enabled;
  s.text = "interface configuration " + d.intfId + " (" + Interface::stringValue(d.state) +
           ") added to slice " + slice;
  s.apply = [slice, d](World& w) {
    if (w.session.db().enabledState(d.intfId))
      throw std::runtime_error("interface " + d.intfId + " is configured already");
    if (!w.session.db().intfConfigAdd(slice, d))
      throw std::runtime_error("no slice " + slice);
  };
}

void intfConfigDelEvent(Step& s, MapReader const& m) {
  std::string slice = m.text("slice");
  std::string intf = m.text("intf");
  s.text = "interface configuration " + intf + " removed from slice " + slice;
  s.apply = [slice, intf](World& w) {
    if (!w.session.db().intfConfigDel(slice, intf))
      throw std::runtime_error("no interface configuration " + intf + " in slice " + slice);
  };
}

void sliceAddEvent(Step& s, MapReader const& m) {
  SliceDesc d;
  d.name = m.text("name");
  if (auto intfs = m.optional("interfaces")) {
    if (!intfs.IsMap())
      refuse(where(m.file(), intfs), m.what() + ".interfaces must map interface ids to states");
    for (auto const& kv : intfs) {
      IntfConfigDesc i;
      i.intfId = scalarText(m.file(), kv.first, "an interface id");
      i.state = parseEnabledState(m.file(), kv.second, m.what() + ".interfaces." + i.intfId);
      d.interfaces.push_back(i);
    }
  }
  std::vector<std::string> names;
  for (auto const& i : d.interfaces)
    names.push_back(i.intfId + " " + Interface::stringValue(i.state));
  s.text = "slice " + d.name + " added" + (names.empty() ? "" : " with " + joined(names));
  s.apply = [d](World& w) {
    for (auto const& i : d.interfaces) {
      if (w.session.db().enabledState(i.intfId))
        throw std::runtime_error("interface " + i.intfId + " is configured already");
    }
    if (!w.session.db().sliceAdd(d))
      throw std::runtime_error("slice " + d.name + " exists already");
  };
}

void sliceDelEvent(Step& s, std::string const& name) {
  s.text = "slice " + name + " removed";
  s.apply = [name](World& w) {
    if (!w.session.db().sliceDel(name))
      throw std::runtime_error("no slice " + name);
  };
}

void hamEvent(Step& s, std::string const& file, YAML::Node const& n, std::string const& what) {
  std::string v = scalarText(file, n, what);
  if (v == "replaced") {
    s.text = "hardware access handle (ham) replaced by a new one over the same bus";
    s.apply = [](World& w) { w.session.db().hamReplace(); };
    return;
  }
  bool present;
  if (v == "present" || v == "true") {
    present = true;
  } else if (v == "absent" || v == "false") {
    present = false;
  } else {
    refuse(where(file, n), what + " must be present, absent or replaced, not '" + clipped(v) + "'");
  }
  s.text = present ? "hardware access handle (ham) appears" : "hardware access handle (ham) goes";
  s.apply = [present](World& w) { w.session.db().hamPresentIs(present); };
}

void mgmtAddEvent(Step& s, MapReader const& m) {
  auto d = parseMgmtInterface(m);
  s.text = "management interface " + d.intfId + " added (ports " + std::to_string(d.externalPort) +
           "/" + std::to_string(d.internalPort) +
           (d.cpuInterface.empty() ? ", no CPU netdevice" : ", CPU netdevice " + d.cpuInterface) +
           ")";
  auto at = m.at();
  s.apply = [d, at](World& w) {
    checkMgmtInterfaces(w.session.db().mgmtInterfaces(), d, at);
    if (auto* ns = w.session.netns(); ns && !d.cpuInterface.empty())
      ns->netdevAdd(d.cpuInterface);
    w.session.db().mgmtInterfaceAdd(d);
  };
}

void mgmtDelEvent(Step& s, std::string const& intf) {
  s.text = "management interface " + intf + " removed";
  s.apply = [intf](World& w) {
    if (!w.session.db().mgmtInterfaceDel(intf))
      throw std::runtime_error("no management interface " + intf);
  };
}

void setEvent(Step& s, MapReader const& m) {
  std::string path = m.text("attr");
  if (m.has("new") == m.has("value"))
    refuse(m.at(), m.what() + " needs either value or new (a type to construct)");
  if (m.has("new")) {
    std::string type = m.text("new");
    s.text = "set " + path + " to a new " + type;
    s.apply = [path, type](World& w) {
      auto t = resolvePath(rootOf(w), path);
      writeAttr(t, Kiv::Generic::construct(type, {}));
    };
  } else {
    std::string value = m.text("value");
    s.text = "set " + path + " = " + value;
    s.apply = [path, value](World& w) { writeAttr(resolvePath(rootOf(w), path), value); };
  }
}

void callEvent(Step& s, MapReader const& m, bool instantiate) {
  std::string path = m.text("attr");
  auto args = textList(m, "args");
  s.text = std::string(instantiate ? "insert into " : "call ") + path + "(" + joined(args) + ")";
  s.apply = [path, args, instantiate](World& w) {
    auto t = resolvePath(rootOf(w), path);
    if (instantiate)
      insertAttr(t, args);
    else
      callAttr(t, args);
  };
}

// `refused: TEXT` on a write, insert or call: the agent must refuse it with
// a message containing the text, and the step holds when it does.
void expectRefusal(Step& s, MapReader const& m) {
  if (!m.has("refused"))
    return;
  std::string want = m.text("refused");
  s.text += " (refused: " + want + ")";
  s.apply = [apply = std::move(s.apply), want](World& w) {
    try {
      apply(w);
    } catch (std::exception const& e) {
      std::string got = e.what();
      if (got.find(want) != std::string::npos)
        return;
      throw std::runtime_error("refused, but with: " + got);
    }
    throw std::runtime_error("accepted; a refusal was expected");
  };
}

void deleteEvent(Step& s, std::string const& path) {
  s.text = "delete " + path;
  s.apply = [path](World& w) { deleteAttr(resolvePath(rootOf(w), path)); };
}

// Expectations.

std::optional<std::string> mismatch(std::string const& got, std::string const& want) {
  if (got == want)
    return std::nullopt;
  return "got " + got;
}

void parseExpectation(Step& s, MapReader const& e) {
  auto const& f = e.file();
  auto const& w = e.what();
  if (e.has("linkStatus")) {
    MapReader m(f, e.node(), w, {"port", "linkStatus"});
    unsigned p = port(m);
    std::string want = m.text("linkStatus");
    if (want != "0" && want != "1" && want != "absent")
      refuse(m.at("linkStatus"),
             w + ".linkStatus must be 0, 1 or absent, not '" + clipped(want) + "'");
    s.text = portText(p) + " link status " + want;
    s.check = [p, want](World& wd) {
      auto ps = wd.session.db().status().port(static_cast<Hardware::Bcm53134::PortId>(p));
      return mismatch(ps ? std::to_string(static_cast<unsigned>(ps->linkStatus())) : "absent",
                      want);
    };
  } else if (e.has("error") || e.has("errorContains")) {
    MapReader m(f, e.node(), w, {"error", "errorContains"});
    bool exact = m.has("error");
    std::string want = exact ? m.text("error") : m.text("errorContains");
    s.text = exact ? (want.empty() ? "no error published" : "error \"" + want + "\"")
                   : "error containing \"" + want + "\"";
    s.check = [exact, want](World& wd) -> std::optional<std::string> {
      auto const& got = wd.session.db().status().error();
      bool ok = exact ? got == want : got.find(want) != std::string::npos;
      if (ok)
        return std::nullopt;
      return got.empty() ? std::string("no error") : "\"" + got + "\"";
    };
  } else if (e.has("register")) {
    MapReader m(f, e.node(), w, {"port", "register", "value", "reads", "writes"});
    unsigned p = port(m);
    auto r = chipReg(m, "register");
    int given = m.has("value") + m.has("reads") + m.has("writes");
    if (given != 1)
      refuse(m.at(), w + " needs exactly one of value, reads or writes");
    auto a = static_cast<Hardware::Mdio::PortAddr>(p);
    if (m.has("value")) {
      auto v = m.number("value", 0, 0xffff);
      s.text = "chip " + portText(p) + " " + r.name + " = " + hex(v);
      s.check = [a, r, v](World& wd) {
        return mismatch(hex(wd.session.db().chip().reg(a, r.reg)), hex(v));
      };
    } else {
      bool reads = m.has("reads");
      auto n = m.number(reads ? "reads" : "writes", 0, ~0u);
      s.text = "chip " + portText(p) + " " + r.name + (reads ? " reads: " : " writes: ") +
               std::to_string(n);
      s.check = [a, r, n, reads](World& wd) {
        auto& chip = wd.session.db().chip();
        return mismatch(std::to_string(reads ? chip.reads(a, r.reg) : chip.writes(a, r.reg)),
                        std::to_string(n));
      };
    }
  } else if (e.has("chipAccesses") || e.has("chipWrites") || e.has("miiStatusReads")) {
    MapReader m(f, e.node(), w, {"chipAccesses", "chipWrites", "miiStatusReads"});
    if (m.has("chipAccesses") + m.has("chipWrites") + m.has("miiStatusReads") != 1)
      refuse(m.at(), w + " needs exactly one of chipAccesses, chipWrites, miiStatusReads");
    char const* key = m.has("chipAccesses") ? "chipAccesses"
                      : m.has("chipWrites") ? "chipWrites"
                                            : "miiStatusReads";
    auto n = m.number(key, 0, ~0u);
    std::string k = key;
    s.text = std::string(k == "chipAccesses" ? "register accesses on the chip: "
                         : k == "chipWrites" ? "register writes on the chip: "
                                             : "MII status reads on the chip: ") +
             std::to_string(n);
    s.check = [k, n](World& wd) {
      auto& chip = wd.session.db().chip();
      unsigned got = k == "chipAccesses" ? chip.registerAccesses()
                     : k == "chipWrites" ? chip.registerWrites()
                                         : chip.miiStatusReadsTotal();
      return mismatch(std::to_string(got), std::to_string(n));
    };
  } else if (e.has("cpuInterface")) {
    MapReader m(f, e.node(), w, {"cpuInterface", "state"});
    std::string name = m.text("cpuInterface");
    std::string want = m.text("state");
    s.text = "CPU interface " + name + " " + want + " in the agent's manager";
    s.check = [name, want](World& wd) -> std::optional<std::string> {
      auto v = readAttr(resolvePath(rootOf(wd), "bcm53134Sm.cpuIfMgr.cpuInterface[" + name + "]"));
      std::string got = "absent";
      if (auto const* h = std::any_cast<Orba::Ptr<Orba::Node>>(&v.raw()); h && *h)
        got = Kiv::Generic::get(**h, "state").text();
      return mismatch(got, want);
    };
  } else if (e.has("protodown")) {
    MapReader m(f, e.node(), w, {"protodown", "value"});
    std::string dev = m.text("protodown");
    bool want = m.flag("value", true);
    s.text = "netdevice " + dev + " protodown " + std::string(want ? "on" : "off");
    s.check = [dev, want](World& wd) -> Verdict {
      if (auto* ns = wd.session.netns()) {
        std::string why;
        auto got = ns->protodown(dev, &why);
        if (!got)
          return std::optional<std::string>("no netdevice " + dev + ": " + why);
        return *got == want ? Verdict(std::nullopt)
                            : std::optional<std::string>(*got ? "protodown on" : "protodown off");
      }
      if (wd.session.cpuMode() != CpuMode::simulated)
        return std::optional<std::string>("no private namespace to look into");
      // Simulated: the manager's verdict stands for the netdevice.
      auto v = readAttr(resolvePath(rootOf(wd), "bcm53134Sm.cpuIfMgr.cpuInterface[" + dev + "]"));
      std::string state = "absent";
      if (auto const* h = std::any_cast<Orba::Ptr<Orba::Node>>(&v.raw()); h && *h)
        state = Kiv::Generic::get(**h, "state").text();
      bool got = state == "disabled";
      if (got == want)
        return Verdict::holds("simulated: interface " + dev + " is " + state + " in the manager");
      return std::optional<std::string>("simulated interface " + dev + " is " + state);
    };
  } else if (e.has("attr")) {
    MapReader m(f, e.node(), w, {"attr", "value", "count", "type"});
    std::string path = m.text("attr");
    if (m.has("value") + m.has("count") + m.has("type") != 1)
      refuse(m.at(), w + " needs exactly one of value, count or type");
    if (m.has("value")) {
      std::string want = m.text("value");
      s.text = path + " = " + want;
      s.check = [path, want](World& wd) -> std::optional<std::string> {
        auto v = readAttr(resolvePath(rootOf(wd), path));
        if (valueMatches(v, want))
          return std::nullopt;
        return "got " + valueText(v);
      };
    } else if (m.has("count")) {
      auto n = m.number("count", 0, ~0u);
      s.text = path + " has " + std::to_string(n) + " members";
      s.check = [path, n](World& wd) {
        auto t = resolvePath(rootOf(wd), path);
        return mismatch(std::to_string(Kiv::Generic::count(*t.owner, t.attr->name)),
                        std::to_string(n));
      };
    } else {
      std::string type = m.text("type");
      s.text = path + " is a " + type;
      s.check = [path, type](World& wd) -> std::optional<std::string> {
        auto v = readAttr(resolvePath(rootOf(wd), path));
        auto const* h = std::any_cast<Orba::Ptr<Orba::Node>>(&v.raw());
        std::string got = !h || !*h          ? "absent"
                          : (*h)->typeData() ? (*h)->typeData()->name
                                             : "an unregistered type";
        return mismatch(got, type);
      };
    }
  } else if (e.has("trace")) {
    MapReader m(f, e.node(), w, {"trace", "present", "since"});
    std::string text = m.text("trace");
    bool present = m.flag("present", true);
    double since = m.has("since") ? m.seconds("since") : 0.0;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", since);
    s.traceText = text;
    s.text = std::string("trace line ") + (present ? "" : "without ") + "\"" + text + "\"" +
             (since > 0 ? std::string(" since ") + buf : std::string());
    s.check = [text, present, since](World& wd) -> std::optional<std::string> {
      if (!wd.traces)
        return "no trace log here";
      bool has = wd.traces->contains(text, since);
      if (has == present)
        return std::nullopt;
      return present ? "no such line" : "such a line was written";
    };
  } else {
    refuse(e.at(), w + ": unknown expectation (one of linkStatus, error, errorContains, register, "
                       "chipAccesses, chipWrites, miiStatusReads, cpuInterface, protodown, attr, "
                       "trace)");
  }
}

// Virtual time a scenario may cover: a typo of a few digits must not keep
// the agent polling for years.
constexpr double kLongestScenario = 30 * 24 * 3600.0;

constexpr char const* kEventKeys[] = {
    "link",          "register",     "readValue",     "failAccesses",  "miiReadFail",
    "clearCounters", "enabledState", "intfConfigAdd", "intfConfigDel", "sliceAdd",
    "sliceDel",      "ham",          "mgmtAdd",       "mgmtDel",       "set",
    "call",          "insert",       "delete"};

}  // namespace

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
  if (keys.size() != 1) {
    std::string all;
    for (auto const* k : kEventKeys)
      all += std::string(all.empty() ? "" : ", ") + k;
    refuse(s.where, what + " needs exactly one of: expect, note, " + all);
  }
  std::string key = keys.front();
  auto value = node[key];
  std::string sub = what + "." + key;
  auto args = [&](std::initializer_list<char const*> allowed) {
    return MapReader(file, value, sub, allowed);
  };
  s.kind = Step::Kind::event;
  if (key == "expect") {
    s.kind = Step::Kind::expect;
    parseExpectation(
        s, MapReader(file, value, sub,
                     {"port",           "linkStatus",   "error",  "errorContains", "register",
                      "value",          "reads",        "writes", "chipAccesses",  "chipWrites",
                      "miiStatusReads", "cpuInterface", "state",  "protodown",     "attr",
                      "count",          "type",         "trace",  "present",       "since"}));
  } else if (key == "note") {
    s.kind = Step::Kind::note;
    s.text = scalarText(file, value, sub);
  } else if (key == "link") {
    linkEvent(s, args({"port", "state"}));
  } else if (key == "register") {
    registerEvent(s, args({"port", "reg", "value"}));
  } else if (key == "readValue") {
    readValueEvent(s, args({"port", "reg", "value"}));
  } else if (key == "failAccesses") {
    failAccessesEvent(s, args({"count", "error"}));
  } else if (key == "miiReadFail") {
    miiReadFailEvent(s, args({"port", "fail"}));
  } else if (key == "clearCounters") {
    clearCountersEvent(s);
  } else if (key == "enabledState") {
    enabledStateEvent(s, args({"intf", "state"}));
  } else if (key == "intfConfigAdd") {
    intfConfigAddEvent(s, args({"slice", "intf", "state"}));
  } else if (key == "intfConfigDel") {
    intfConfigDelEvent(s, args({"slice", "intf"}));
  } else if (key == "sliceAdd") {
    sliceAddEvent(s, args({"name", "interfaces"}));
  } else if (key == "sliceDel") {
    sliceDelEvent(s, scalarText(file, value, sub));
  } else if (key == "ham") {
    hamEvent(s, file, value, sub);
  } else if (key == "mgmtAdd") {
    mgmtAddEvent(s, args({"intfId", "cpuInterface", "externalPort", "internalPort"}));
  } else if (key == "mgmtDel") {
    mgmtDelEvent(s, scalarText(file, value, sub));
  } else if (key == "set") {
    auto m = args({"attr", "value", "new", "refused"});
    setEvent(s, m);
    expectRefusal(s, m);
  } else if (key == "call" || key == "insert") {
    auto m = args({"attr", "args", "refused"});
    callEvent(s, m, key == "insert");
    expectRefusal(s, m);
  } else if (key == "delete") {
    deleteEvent(s, scalarText(file, value, sub));
  } else {
    std::string all;
    for (auto const* k : kEventKeys)
      all += std::string(all.empty() ? "" : ", ") + k;
    refuse(where(file, value),
           "unknown step '" + clipped(key) + "' (one of: expect, note, " + all + ")");
  }
  return s;
}

Scenario parseScenario(YAML::Node const& doc, std::string const& file) {
  Scenario sc;
  sc.file = file;
  MapReader top(file, doc, "the scenario",
                {"name", "description", "appliance", "trace", "end", "steps"});
  sc.name = top.text("name", "");
  sc.description = top.text("description", "");
  sc.trace = top.text("trace", "Bcm53134Agent/0 CpuIfMgr/0");
  try {
    TraceSpec::parse(sc.trace);
  } catch (std::invalid_argument const& e) {
    refuse(top.at("trace"), e.what());
  }
  auto app = top.required("appliance");
  if (app.IsScalar()) {
    std::string ref = app.Scalar();
    if (!ref.empty() && ref[0] != '/') {
      auto slash = file.rfind('/');
      if (slash != std::string::npos)
        ref = file.substr(0, slash + 1) + ref;
    }
    sc.appliance = loadAppliance(ref);
  } else {
    sc.appliance = parseAppliance(app, file);
  }
  auto steps = top.required("steps");
  if (!steps.IsSequence())
    refuse(where(file, steps), "steps must be a list");
  double last = 0;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    auto s = parseStep(steps[i], file, "steps[" + std::to_string(i) + "]", true);
    if (s.at < last) {
      refuse(s.where, "steps[" + std::to_string(i) + "] at " + std::to_string(s.at) +
                          " comes before the step above it; steps are in time order");
    }
    last = s.at;
    sc.steps.push_back(std::move(s));
  }
  sc.end = top.has("end") ? top.seconds("end") : last;
  if (sc.end < last)
    refuse(top.at("end"), "end is before the last step");
  if (sc.end > kLongestScenario)
    refuse(top.at("end"), "end is past 30 days of virtual time");
  return sc;
}

Scenario loadScenario(std::string const& path) {
  auto doc = loadYamlFile(path);
  if (!doc || doc.IsNull())
    throw InputError(path + ": the file is empty");
  return parseScenario(doc, path);
}

StepOutcome runStep(Step const& step, World& world) {
  auto const& tl = world.session.timeline();
  StepOutcome o;
  switch (step.kind) {
    case Step::Kind::note:
      tl.line("note", step.text);
      break;
    case Step::Kind::event:
      try {
        step.apply(world);
        world.session.afterHostChange();
        tl.line("event", step.text);
      } catch (std::exception const& e) {
        o = {false, e.what()};
        tl.line("event", step.text + " ... FAILED: " + e.what() + " (" + step.where.text() + ")");
      }
      break;
    case Step::Kind::expect:
      try {
        auto v = step.check(world);
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
