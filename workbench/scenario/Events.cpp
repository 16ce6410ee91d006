#include "workbench/scenario/Events.h"

#include <stdexcept>
#include <vector>

#include "host/agent/RunningAgent.h"
#include "host/appliance/Appliance.h"
#include "host/appliance/StateDb.h"
#include "host/attr/AttrPath.h"
#include "host/os/PrivateNetns.h"
#include "workbench/chip/ChipActions.h"
#include "workbench/scenario/StepArgs.h"

namespace Host {

namespace {

// What an event is read from: its value in the step, and the name of that
// value in messages ("steps[3].link").
struct EventInput {
  std::string const& file;
  YAML::Node const& value;
  std::string const& what;

  // The value as a mapping with these keys.
  MapReader args(std::initializer_list<char const*> allowed) const {
    return MapReader(file, value, what, allowed);
  }
  // The value as one word.
  std::string scalar() const { return scalarText(file, value, what); }
};

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

// The simulated chip: one event per chip action, read from a mapping of the
// action's parameters.

MapReader chipArgsMap(ChipAction const& act, EventInput const& in) {
  auto key = [&](std::size_t i) { return chipParamKey(act.params[i]); };
  if (act.params.size() == 2)
    return in.args({key(0), key(1)});
  return in.args({key(0), key(1), key(2)});
}

void chipEvent(Step& s, ChipAction const& act, EventInput const& in) {
  ChipArgs a;
  if (!act.params.empty()) {
    auto m = chipArgsMap(act, in);
    for (auto p : act.params) {
      switch (p) {
        case ChipParam::port:
          a.port = port(m);
          break;
        case ChipParam::reg:
          a.reg = chipReg(m, "reg").reg;
          break;
        case ChipParam::value:
          a.value = static_cast<std::uint16_t>(m.number("value", 0, chipParamMax(p)));
          break;
        case ChipParam::count:
          a.count = static_cast<unsigned>(m.number("count", 0, chipParamMax(p)));
          break;
        case ChipParam::linkState:
          a.state = m.text("state");
          if (auto why = linkStateProblem(a.state); !why.empty())
            refuse(m.at("state"), m.what() + ".state " + why + ", not '" + clipped(a.state) + "'");
          break;
        case ChipParam::error:
          a.error = m.text("error", kDefaultAccessError);
          if (auto why = errorTextProblem(a.error); !why.empty())
            refuse(m.at("error"), m.what() + ".error " + why);
          break;
        case ChipParam::fail:
          a.fail = m.flag("fail", true);
          break;
      }
    }
  }
  s.text = act.text(a);
  s.apply = [&act, a](StepContext& w) { act.apply(w.agent.db().chip(), a); };
}

// The state database: configuration, slices, the ham, management
// interfaces.

void enabledStateEvent(Step& s, EventInput const& in) {
  auto m = in.args({"intf", "state"});
  std::string intf = m.text("intf");
  auto state = parseEnabledState(m.file(), m.required("state"), m.what() + ".state");
  s.text = "interface " + intf + " enabled state " + Interface::stringValue(state);
  s.apply = [intf, state](StepContext& w) {
    if (!w.agent.db().enabledStateIs(intf, state))
      throw std::runtime_error("no interface configuration " + intf + " in any slice");
  };
}

void intfConfigAddEvent(Step& s, EventInput const& in) {
  auto m = in.args({"slice", "intf", "state"});
  std::string slice = m.text("slice");
  IntfConfigDesc d;
  d.intfId = m.text("intf");
  d.state = m.has("state") ? parseEnabledState(m.file(), m.required("state"), m.what() + ".state")
                           : Interface::IntfEnabledState::enabled;
  s.text = "interface configuration " + d.intfId + " (" + Interface::stringValue(d.state) +
           ") added to slice " + slice;
  s.apply = [slice, d](StepContext& w) {
    if (w.agent.db().enabledState(d.intfId))
      throw std::runtime_error("interface " + d.intfId + " is configured already");
    if (!w.agent.db().intfConfigAdd(slice, d))
      throw std::runtime_error("no slice " + slice);
  };
}

void intfConfigDelEvent(Step& s, EventInput const& in) {
  auto m = in.args({"slice", "intf"});
  std::string slice = m.text("slice");
  std::string intf = m.text("intf");
  s.text = "interface configuration " + intf + " removed from slice " + slice;
  s.apply = [slice, intf](StepContext& w) {
    if (!w.agent.db().intfConfigDel(slice, intf))
      throw std::runtime_error("no interface configuration " + intf + " in slice " + slice);
  };
}

void sliceAddEvent(Step& s, EventInput const& in) {
  auto m = in.args({"name", "interfaces"});
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
  s.apply = [d](StepContext& w) {
    for (auto const& i : d.interfaces) {
      if (w.agent.db().enabledState(i.intfId))
        throw std::runtime_error("interface " + i.intfId + " is configured already");
    }
    if (!w.agent.db().sliceAdd(d))
      throw std::runtime_error("slice " + d.name + " exists already");
  };
}

void sliceDelEvent(Step& s, EventInput const& in) {
  std::string name = in.scalar();
  s.text = "slice " + name + " removed";
  s.apply = [name](StepContext& w) {
    if (!w.agent.db().sliceDel(name))
      throw std::runtime_error("no slice " + name);
  };
}

void hamEvent(Step& s, EventInput const& in) {
  std::string v = in.scalar();
  if (v == "replaced") {
    s.text = "hardware access handle (ham) replaced by a new one over the same bus";
    s.apply = [](StepContext& w) { w.agent.db().hamReplace(); };
    return;
  }
  bool present;
  if (v == "present" || v == "true") {
    present = true;
  } else if (v == "absent" || v == "false") {
    present = false;
  } else {
    refuse(where(in.file, in.value),
           in.what + " must be present, absent or replaced, not '" + clipped(v) + "'");
  }
  s.text = present ? "hardware access handle (ham) appears" : "hardware access handle (ham) goes";
  s.apply = [present](StepContext& w) { w.agent.db().hamPresentIs(present); };
}

void mgmtAddEvent(Step& s, EventInput const& in) {
  auto m = in.args({"intfId", "cpuInterface", "externalPort", "internalPort"});
  auto d = parseMgmtInterface(m);
  s.text = "management interface " + d.intfId + " added (ports " + std::to_string(d.externalPort) +
           "/" + std::to_string(d.internalPort) +
           (d.cpuInterface.empty() ? ", no CPU netdevice" : ", CPU netdevice " + d.cpuInterface) +
           ")";
  auto at = m.at();
  s.apply = [d, at](StepContext& w) {
    checkMgmtInterfaces(w.agent.db().mgmtInterfaces(), d, at);
    if (auto* ns = w.agent.netns(); ns && !d.cpuInterface.empty())
      ns->netdevAdd(d.cpuInterface);
    auto before = w.agent.db().mgmtInterfaces();
    w.agent.db().mgmtInterfaceAdd(d);
    for (auto const& p : newSharedPorts(before, w.agent.db().mgmtInterfaces()))
      w.remarks.push_back(p.warning);
  };
}

void mgmtDelEvent(Step& s, EventInput const& in) {
  std::string intf = in.scalar();
  s.text = "management interface " + intf + " removed";
  s.apply = [intf](StepContext& w) {
    if (!w.agent.db().mgmtInterfaceDel(intf))
      throw std::runtime_error("no management interface " + intf);
  };
}

// The agent, through attribute paths.

// `refused: TEXT` on a write, insert or call: the agent must refuse it with
// a message containing the text, and the step holds when it does.
void expectRefusal(Step& s, MapReader const& m) {
  if (!m.has("refused"))
    return;
  std::string want = m.text("refused");
  s.text += " (refused: " + want + ")";
  s.apply = [apply = std::move(s.apply), want](StepContext& w) {
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

void setEvent(Step& s, EventInput const& in) {
  auto m = in.args({"attr", "value", "new", "refused"});
  std::string path = m.text("attr");
  if (m.has("new") == m.has("value"))
    refuse(m.at(), m.what() + " needs either value or new (a type to construct)");
  if (m.has("new")) {
    std::string type = m.text("new");
    s.text = "set " + path + " to a new " + type;
    s.apply = [path, type](StepContext& w) {
      auto t = resolvePath(rootOf(w), path);
      writeAttr(t, Kiv::Generic::construct(type, {}));
    };
  } else {
    std::string value = m.text("value");
    s.text = "set " + path + " = " + value;
    s.apply = [path, value](StepContext& w) { writeAttr(resolvePath(rootOf(w), path), value); };
  }
  expectRefusal(s, m);
}

void callOrInsert(Step& s, EventInput const& in, bool instantiate) {
  auto m = in.args({"attr", "args", "refused"});
  std::string path = m.text("attr");
  auto args = textList(m, "args");
  s.text = std::string(instantiate ? "insert into " : "call ") + path + "(" + joined(args) + ")";
  s.apply = [path, args, instantiate](StepContext& w) {
    auto t = resolvePath(rootOf(w), path);
    if (instantiate)
      insertAttr(t, args);
    else
      callAttr(t, args);
  };
  expectRefusal(s, m);
}

void callEvent(Step& s, EventInput const& in) {
  callOrInsert(s, in, false);
}

void insertEvent(Step& s, EventInput const& in) {
  callOrInsert(s, in, true);
}

void deleteEvent(Step& s, EventInput const& in) {
  std::string path = in.scalar();
  s.text = "delete " + path;
  s.apply = [path](StepContext& w) { deleteAttr(resolvePath(rootOf(w), path)); };
}

// Every event by its key, in the order messages list them.
struct EventKind {
  char const* key;
  void (*parse)(Step&, EventInput const&);
};
// The chip actions come first, from their own table.
constexpr EventKind kEvents[] = {
    {"enabledState", enabledStateEvent},
    {"intfConfigAdd", intfConfigAddEvent},
    {"intfConfigDel", intfConfigDelEvent},
    {"sliceAdd", sliceAddEvent},
    {"sliceDel", sliceDelEvent},
    {"ham", hamEvent},
    {"mgmtAdd", mgmtAddEvent},
    {"mgmtDel", mgmtDelEvent},
    {"set", setEvent},
    {"call", callEvent},
    {"insert", insertEvent},
    {"delete", deleteEvent},
};

}  // namespace

bool parseEvent(Step& s, std::string const& key, std::string const& file, YAML::Node const& value,
                std::string const& what) {
  if (auto const* act = chipActionByEvent(key)) {
    chipEvent(s, *act, EventInput{file, value, what});
    return true;
  }
  for (auto const& e : kEvents) {
    if (key == e.key) {
      e.parse(s, EventInput{file, value, what});
      return true;
    }
  }
  return false;
}

std::string eventNames() {
  std::string all;
  for (auto const& a : chipActions())
    all += std::string(all.empty() ? "" : ", ") + a.event;
  for (auto const& e : kEvents)
    all += std::string(all.empty() ? "" : ", ") + e.key;
  return all;
}

}  // namespace Host
