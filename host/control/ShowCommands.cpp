#include "host/control/CommandFamilies.h"

#include <cstdio>
#include <map>
#include <sstream>

#include "host/agent/RunningAgent.h"
#include "host/appliance/StateDb.h"
#include "host/attr/AttrPath.h"
#include "host/control/CommandSupport.h"
#include "host/os/AgentLibrary.h"
#include "host/show/StatusExport.h"
#include "platform/agent/CAgent.h"
#include "platform/kiv/Clock.h"

// show status | show agent: what the agent publishes, and the agent's state
// machine at a glance.
namespace Host::Commands {

namespace {

// Register contents read better in hexadecimal.
std::string hexText(Kiv::Value const& v) {
  auto const* t = v.type();
  if (t == &Kiv::TypeOf<std::uint32_t>::desc()) {
    std::ostringstream os;
    os << "0x" << std::hex << v.as<std::uint32_t>();
    return os.str();
  }
  return valueText(v);
}

// Reads an attribute that the agent may or may not have.
Kiv::Value attrOr(Orba::Node const& n, std::string const& name) {
  auto const* t = n.typeData();
  auto const* a = t ? t->attr(name) : nullptr;
  if (!a || !a->readable())
    return {};
  return Kiv::Generic::get(n, name);
}

Orba::Ptr<Orba::Node> objectIn(Kiv::Value const& v) {
  auto const* h = handleIn(v);
  return h ? *h : Orba::Ptr<Orba::Node>();
}

// Each CPU netdevice's protodown as the host keeps it, and what stands out.
std::string protodownTable(std::map<std::string, ProtodownKeeping> const& keeping, double now) {
  if (keeping.empty())
    return "";
  auto onOff = [](std::optional<bool> v) { return v ? (*v ? "on" : "off") : "-"; };
  Table t({"netdev", "interface", "agentProtodown", "kernelProtodown", "reasons", "restores"});
  std::string notes;
  for (auto const& [netdev, k] : keeping) {
    char reasons[16];
    std::snprintf(reasons, sizeof reasons, "0x%x", k.reasons);
    t.row({netdev, k.interface, onOff(k.verdict), k.kernel ? onOff(k.kernel) : "no netdevice",
           reasons, std::to_string(k.restores)});
    if (k.heldUntil > 0) {
      char held[64];
      std::snprintf(held, sizeof held, " held by hand for %.0f s more\n", k.heldUntil - now);
      notes += netdev + held;
    }
    if (!k.trouble.empty())
      notes += netdev + ": protodown cannot be restored: " + k.trouble + "\n";
  }
  return t.text("") + notes;
}

Json showStatus(RunningAgent& s) {
  LinkHistories none;
  auto* watcher = s.statusWatcher();
  if (watcher)
    watcher->flush();  // the history of a change published in this very event
  // The watcher's copy: only the ports in use.
  auto snap = watcher ? watcher->last() : snapshotOf(s.db().status());
  auto const& history = watcher ? watcher->history() : none;
  std::map<unsigned, std::string> intfOf;
  for (auto const& m : s.db().mgmtInterfaces())
    intfOf[m.externalPort] = m.intfId;
  Table t({"port", "interface", "linkStatus", "link", "transitions", "lastChange"});
  for (auto const& [port, link] : snap.linkStatus) {
    auto it = intfOf.find(port);
    auto h = history.find(port);
    bool const known = h != history.end();
    char last[32] = "-";
    if (known)
      std::snprintf(last, sizeof last, "%.3f", h->second.lastChange);
    t.row({std::to_string(port), it == intfOf.end() ? "-" : it->second, std::to_string(link),
           linkName(link), known ? std::to_string(h->second.transitions) : "-", last});
  }
  std::string text = "error: " + (snap.error.empty() ? std::string("none") : snap.error) + "\n";
  for (auto const& n : snap.missingNetdevs)
    text += "cpuInterface " + n + " names no netdevice of this machine\n";
  text += snap.linkStatus.empty() ? "no port status published yet\n" : t.text("");
  text += protodownTable(snap.protodown, Kiv::System::currentTime());
  return done(text, statusDocument(snap, history, Kiv::System::currentTime()));
}

// One part of "show agent": its text and its JSON.
struct Part {
  std::string text;
  Json json;
};

Part registerRecords(Orba::Node const& sm) {
  Table t({"id", "size", "val", "valid", "configVal", "configValid"});
  Part p{"", Json::array()};
  for (auto const& [key, value] : sortedMembers(sm, "registerVal")) {
    auto rec = objectIn(value);
    if (!rec)
      continue;
    std::vector<std::string> row{key.text()};
    Json jr{{"id", key.text()}};
    for (std::string name : {"dataSize", "val", "valid", "configVal", "configValid"}) {
      auto v = attrOr(*rec, name);
      row.push_back(name == "dataSize" ? valueText(v) : hexText(v));
      jr[name] = valueJson(v);
    }
    t.row(row);
    p.json.push_back(jr);
  }
  p.text = "register records: " + std::to_string(p.json.size()) + "\n" +
           (p.json.empty() ? "" : t.text());
  return p;
}

Part interfaceStates(Orba::Node const& sm) {
  Table t({"interface", "enabled state"});
  Part p{"", Json::object()};
  for (auto const& [key, value] : sortedMembers(sm, "intfState")) {
    t.row({key.text(), value.text()});
    p.json[key.text()] = value.text();
  }
  p.text = "intfState: " + std::to_string(p.json.size()) + " interfaces\n" +
           (p.json.empty() ? "" : t.text());
  return p;
}

Part cpuInterfaces(Orba::Node const& sm) {
  auto mgr = objectIn(attrOr(sm, "cpuIfMgr"));
  if (!mgr)
    return {"CPU interface manager: none yet\n", nullptr};
  Json ifs = Json::array();
  bool simFail = false;  // the simulated manager's interfaces have it
  for (auto const& [key, value] : sortedMembers(*mgr, "cpuInterface")) {
    auto cif = objectIn(value);
    if (!cif)
      continue;
    Json ji{{"name", key.text()}, {"state", valueText(attrOr(*cif, "state"))}};
    ji["type"] = typeName(*cif);
    if (auto fail = attrOr(*cif, "simFail"); !fail.empty()) {
      ji["simFail"] = valueJson(fail);
      simFail = true;
    }
    ifs.push_back(ji);
  }
  std::vector<std::string> header{"interface", "state", "type"};
  if (simFail)
    header.push_back("simFail");
  Table t(header);
  for (auto const& ji : ifs) {
    std::vector<std::string> row{ji["name"], ji["state"], ji["type"]};
    if (simFail)
      row.push_back(ji.contains("simFail") ? ji["simFail"].dump() : "-");
    t.row(row);
  }
  return {"CPU interface manager: " + typeName(*mgr) + ", " + std::to_string(ifs.size()) +
              " interface" + (ifs.size() == 1 ? "" : "s") + "\n" + (ifs.empty() ? "" : t.text()),
          Json{{"type", typeName(*mgr)}, {"cpuInterface", ifs}}};
}

// When the state machine's next poll falls due: the next wake-up of the
// clock it polls by (the machine is that clock's only notifiee), in loop
// time and from now. A changed pollPeriod does not move it; it applies
// from the wake-up after.
std::pair<std::string, Json> nextPoll(Orba::Node const& sm) {
  auto clock = objectIn(attrOr(sm, "clockPoll"));
  auto pending = clock ? attrOr(*clock, "pendingWakeups") : Kiv::Value();
  if (pending.empty() || pending.as<std::uint64_t>() == 0)
    return {"none pending", nullptr};
  double const at = attrOr(*clock, "nextWakeup").as<double>();
  double const in = at - Kiv::System::currentTime();
  char text[96];
  std::snprintf(text, sizeof text, "due at %.3f (in %.3f s)", at, in);
  return {text, Json{{"at", at}, {"in", in}}};
}

Json showAgent(RunningAgent& s) {
  auto& root = rootOf(s);
  std::ostringstream rootText;
  rootText << root;
  Json result;
  result["root"] = {{"type", typeName(root)}, {"text", rootText.str()}};
  Table head({"root", rootText.str()});
  head.row({"agent", s.library().name + " (" + s.library().path + ")"});
  auto sm = objectIn(attrOr(root, "bcm53134Sm"));
  if (!sm) {
    result["stateMachine"] = nullptr;
    return done(head.text("") + "state machine: none yet (the agent's mounts have not completed)\n",
                result);
  }
  Json jsm{{"type", typeName(*sm)}};
  head.row({"state machine", "bcm53134Sm (" + typeName(*sm) + ")"});
  for (char const* name : {"state", "xid", "repollingNeeded", "pollPeriod"}) {
    auto v = attrOr(*sm, name);
    head.row({std::string("  ") + name, valueText(v)});
    jsm[name] = valueJson(v);
  }
  auto [due, dueJson] = nextPoll(*sm);
  head.row({"  next poll", due});
  jsm["nextPoll"] = dueJson;
  std::string text = head.text("");
  for (auto [name, part] :
       {std::pair{"registerVal", registerRecords(*sm)},
        std::pair{"intfState", interfaceStates(*sm)}, std::pair{"cpuIfMgr", cpuInterfaces(*sm)}}) {
    text += "\n" + part.text;
    jsm[name] = part.json;
  }
  result["stateMachine"] = jsm;
  return done(text, result);
}

}  // namespace

namespace {

// Each word of show, with what it shows.
struct ShowWord {
  char const* word;
  Json (*show)(RunningAgent& s);
};
constexpr ShowWord kShowWords[] = {{"status", showStatus}, {"agent", showAgent}};

std::string showUsage() {
  std::string u;
  for (auto const& w : kShowWords)
    u += (u.empty() ? "show " : " | show ") + std::string(w.word);
  return u;
}

}  // namespace

std::vector<std::string> showWords() {
  std::vector<std::string> words;
  for (auto const& w : kShowWords)
    words.emplace_back(w.word);
  return words;
}

Json showCommand(ControlContext& c, std::vector<std::string> const& argv) {
  needArgs(argv, 2, 2, showUsage().c_str());
  for (auto const& w : kShowWords) {
    if (argv[1] == w.word)
      return w.show(c.agent);
  }
  throw CommandError("usage: " + showUsage());
}

}  // namespace Host::Commands
