#include "host/control/CommandFamilies.h"

#include <cstdio>
#include <map>
#include <optional>
#include <sstream>

#include "host/agent/RunningAgent.h"
#include "host/appliance/StateDb.h"
#include "host/attr/AttrPath.h"
#include "host/control/CommandSupport.h"
#include "host/os/AgentLibrary.h"
#include "host/show/StatusExport.h"
#include "host/show/Timeline.h"
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

// Each CPU netdevice's protodown as the host keeps it: what stands out.
std::string protodownNotes(std::map<std::string, ProtodownKeeping> const& keeping, double now) {
  std::string notes;
  for (auto const& [netdev, k] : keeping) {
    if (k.heldUntil > 0) {
      char held[64];
      std::snprintf(held, sizeof held, " held by hand for %.0f s more\n", k.heldUntil - now);
      notes += netdev + held;
    }
    if (!k.trouble.empty())
      notes += netdev + ": protodown cannot be restored: " + k.trouble + "\n";
  }
  return notes;
}

// One management interface as `show status` shows it: its ports, the link
// of its external port with its history, and its CPU netdevice's protodown
// as the host keeps it.
Json interfaceStatus(MgmtIntfDesc const& m, StatusSnapshot const& snap,
                     LinkHistories const& history) {
  auto time = [](double t) { return t >= 0 ? Json(t) : Json(); };
  auto onOff = [](std::optional<bool> v) { return v ? Json(*v ? "on" : "off") : Json(); };
  Json j{
      {"interface", m.intfId}, {"externalPort", m.externalPort}, {"internalPort", m.internalPort}};
  auto link = snap.linkStatus.find(m.externalPort);
  j["linkStatus"] = link == snap.linkStatus.end() ? Json() : Json(link->second);
  j["link"] = link == snap.linkStatus.end() ? Json() : Json(linkName(link->second));
  auto h = history.find(m.externalPort);
  bool const known = link != snap.linkStatus.end() && h != history.end();
  j["transitions"] = known ? Json(h->second.transitions) : Json();
  j["lastDown"] = known ? time(h->second.lastDown) : Json();
  j["lastUp"] = known ? time(h->second.lastUp) : Json();
  j["cpuNetdevice"] = m.cpuInterface.empty() ? Json() : Json(m.cpuInterface);
  if (m.cpuInterface.empty())
    return j;
  auto k = snap.protodown.find(m.cpuInterface);
  bool const kept = k != snap.protodown.end();
  j["missingNetdevice"] =
      snap.missingNetdevs.contains(m.cpuInterface) || (kept && !k->second.kernel);
  j["agentProtodown"] = kept ? onOff(k->second.verdict) : Json();
  j["kernelProtodown"] = kept ? onOff(k->second.kernel) : Json();
  j["protodownReasons"] = kept ? Json(k->second.reasons) : Json();
  j["restores"] = kept ? Json(k->second.restores) : Json();
  return j;
}

// The table of `show status`: one line per management interface.
std::string interfaceTable(Json const& interfaces) {
  auto text = [](Json const& v) {
    if (v.is_null())
      return std::string("-");
    if (v.is_number_float()) {
      char t[32];
      std::snprintf(t, sizeof t, "%.3f", v.get<double>());
      return std::string(t);
    }
    return v.is_string() ? v.get<std::string>() : v.dump();
  };
  Table t({"interface", "ports", "link", "lastDown", "lastUp", "transitions", "netdev",
           "agentProtodown", "kernelProtodown", "reasons", "restores"});
  for (auto const& j : interfaces) {
    char reasons[16] = "-";
    if (j.value("protodownReasons", Json()).is_number())
      std::snprintf(reasons, sizeof reasons, "0x%x", j["protodownReasons"].get<unsigned>());
    bool const missing = j.value("missingNetdevice", false);
    t.row({j["interface"], text(j["externalPort"]) + "/" + text(j["internalPort"]), text(j["link"]),
           text(j["lastDown"]), text(j["lastUp"]), text(j["transitions"]), text(j["cpuNetdevice"]),
           text(j.value("agentProtodown", Json())),
           missing ? "no netdevice" : text(j.value("kernelProtodown", Json())), reasons,
           text(j.value("restores", Json()))});
  }
  return t.text("");
}

// `show status [INTERFACE]`: the error text and one line per management
// interface (or the one named; the host says whether it runs under the
// journal, where agentctl then reads the interface's lines).
Json showStatus(RunningAgent& s, std::optional<std::string> const& only) {
  LinkHistories none;
  auto* watcher = s.statusWatcher();
  if (watcher)
    watcher->flush();  // the history of a change published in this very event
  // The watcher's copy: only the ports in use.
  auto snap = watcher ? watcher->last() : snapshotOf(s.db().status());
  auto const& history = watcher ? watcher->history() : none;
  double const now = Kiv::System::currentTime();
  Json interfaces = Json::array();
  std::vector<std::string> names;
  for (auto const& m : s.db().mgmtInterfaces()) {
    names.push_back(m.intfId);
    if (!only || *only == m.intfId)
      interfaces.push_back(interfaceStatus(m, snap, history));
  }
  if (only && interfaces.empty())
    throw CommandError("no management interface " + *only + " (" + joined(names) + ")");
  std::string text = "error: " + (snap.error.empty() ? std::string("none") : snap.error) + "\n";
  for (auto const& n : snap.missingNetdevs)
    text += "cpuInterface " + n + " names no netdevice of this machine\n";
  text += interfaceTable(interfaces);
  text += protodownNotes(snap.protodown, now);
  if (only) {
    Json result{{"time", now},
                {"error", snap.error},
                {"interface", interfaces.front()},
                {"journal", journalEntriesOn()}};
    return done(text, result);
  }
  auto doc = statusDocument(snap, history, now);
  doc["interfaces"] = std::move(interfaces);
  return done(text, doc);
}

// A section of "show agent" (register records, interface states, CPU
// interfaces): its text and its JSON.
struct AgentSection {
  std::string text;
  Json json;
};

AgentSection registerRecords(Orba::Node const& sm) {
  Table t({"id", "size", "val", "valid", "configVal", "configValid"});
  AgentSection p{"", Json::array()};
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

AgentSection interfaceStates(Orba::Node const& sm) {
  Table t({"interface", "enabled state"});
  AgentSection p{"", Json::object()};
  for (auto const& [key, value] : sortedMembers(sm, "intfState")) {
    t.row({key.text(), value.text()});
    p.json[key.text()] = value.text();
  }
  p.text = "intfState: " + std::to_string(p.json.size()) + " interfaces\n" +
           (p.json.empty() ? "" : t.text());
  return p;
}

AgentSection cpuInterfaces(Orba::Node const& sm) {
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
  for (auto [name, section] :
       {std::pair{"registerVal", registerRecords(*sm)},
        std::pair{"intfState", interfaceStates(*sm)}, std::pair{"cpuIfMgr", cpuInterfaces(*sm)}}) {
    text += "\n" + section.text;
    jsm[name] = section.json;
  }
  result["stateMachine"] = jsm;
  return done(text, result);
}

}  // namespace

namespace {

Json showStatusOf(RunningAgent& s, std::vector<std::string> const& argv) {
  return showStatus(s, argv.size() == 3 ? std::optional(argv[2]) : std::nullopt);
}

Json showAgentOf(RunningAgent& s, std::vector<std::string> const&) {
  return showAgent(s);
}

// Each word of show: its arguments in the usage, how many words it takes
// at most, and what it shows.
struct ShowWord {
  char const* word;
  char const* arguments;
  std::size_t most;
  Json (*show)(RunningAgent& s, std::vector<std::string> const& argv);
};
constexpr ShowWord kShowWords[] = {{"status", " [INTERFACE]", 3, showStatusOf},
                                   {"agent", "", 2, showAgentOf}};

std::string showUsage() {
  std::string u;
  for (auto const& w : kShowWords)
    u += (u.empty() ? "show " : " | show ") + std::string(w.word) + w.arguments;
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
  needArgs(argv, 2, 3, showUsage().c_str());
  for (auto const& w : kShowWords) {
    if (argv[1] == w.word && argv.size() <= w.most)
      return w.show(c.agent, argv);
  }
  throw CommandError("usage: " + showUsage());
}

}  // namespace Host::Commands
