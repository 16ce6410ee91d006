#include "host/control/ControlCommands.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <sstream>
#include <stdexcept>

#include "host/Session.h"
#include "host/attr/AttrPath.h"
#include "host/control/ControlProtocol.h"
#include "host/show/TraceOutput.h"
#include "platform/kiv/Clock.h"
#include "platform/kiv/Trace.h"

namespace Host {

namespace {

using Json = nlohmann::ordered_json;
using Chip = Hardware::Mdio::Sim::Bcm53134Chip;

// A command that cannot be carried out, with the reason for the user.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

Json done(std::string text, Json result = nullptr) {
  while (!text.empty() && text.back() == '\n')
    text.pop_back();
  return Json{{"ok", true}, {"text", std::move(text)}, {"result", std::move(result)}};
}

// Columns aligned two spaces apart, the header first.
class Table {
 public:
  explicit Table(std::vector<std::string> header) { rows_.push_back(std::move(header)); }
  void row(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
  std::string text(std::string const& indent = "  ") const {
    std::vector<std::size_t> width;
    for (auto const& r : rows_) {
      width.resize(std::max(width.size(), r.size()));
      for (std::size_t i = 0; i < r.size(); ++i)
        width[i] = std::max(width[i], r[i].size());
    }
    std::string out;
    for (auto const& r : rows_) {
      std::string line = indent;
      for (std::size_t i = 0; i < r.size(); ++i)
        line += r[i] + (i + 1 < r.size() ? std::string(width[i] - r[i].size() + 2, ' ') : "");
      out += line + "\n";
    }
    return out;
  }

 private:
  std::vector<std::vector<std::string>> rows_;
};

Orba::Ptr<Orba::Node> const* handleIn(Kiv::Value const& v) {
  return v.empty() ? nullptr : std::any_cast<Orba::Ptr<Orba::Node>>(&v.raw());
}

std::string typeName(Orba::Node const& n) {
  return n.typeData() ? n.typeData()->name : "an unregistered type";
}

// Numbers as numbers, the rest as its text form.
Json valueJson(Kiv::Value const& v) {
  if (v.empty())
    return nullptr;
  auto const* t = v.type();
  if (auto const* h = handleIn(v))
    return *h ? Json(v.text()) : Json(nullptr);
  if (t == &Kiv::TypeOf<bool>::desc())
    return v.as<bool>();
  if (t == &Kiv::TypeOf<std::uint8_t>::desc())
    return v.as<std::uint8_t>();
  if (t == &Kiv::TypeOf<std::uint16_t>::desc())
    return v.as<std::uint16_t>();
  if (t == &Kiv::TypeOf<std::uint32_t>::desc())
    return v.as<std::uint32_t>();
  if (t == &Kiv::TypeOf<std::uint64_t>::desc())
    return v.as<std::uint64_t>();
  if (t == &Kiv::TypeOf<std::int32_t>::desc())
    return v.as<std::int32_t>();
  if (t == &Kiv::TypeOf<std::int64_t>::desc())
    return v.as<std::int64_t>();
  if (t == &Kiv::TypeOf<double>::desc())
    return v.as<double>();
  return v.text();
}

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

std::string joined(std::vector<std::string> const& v, std::string const& sep = ", ") {
  std::string r;
  for (auto const& s : v)
    r += (r.empty() ? "" : sep) + s;
  return r;
}

bool isRootPath(std::string const& p) {
  return p.empty() || p == "." || p == "/";
}

std::string shown(std::string const& path) {
  return isRootPath(path) ? "the root" : path;
}

std::string joinPath(std::string const& path, std::string const& attribute) {
  return isRootPath(path) ? attribute : path + "." + attribute;
}

Orba::Node& rootOf(Session& s) {
  if (!s.root())
    throw CommandError("the agent is not running");
  return *s.root();
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

bool isCollection(Kiv::AttrDesc const& a) {
  return a.keyType != nullptr;
}

// resolvePath with the path in every message.
AttrTarget resolved(Orba::Node& from, std::string const& path, std::string const& shownAs) {
  try {
    return resolvePath(from, path);
  } catch (Kiv::AttributeError const& e) {
    std::string what = e.what();
    throw CommandError(what.rfind(path, 0) == 0 ? what : shownAs + ": " + what);
  }
}

// The object a path names.
Orba::Ptr<Orba::Node> objectAt(Session& s, std::string const& path) {
  Orba::Ptr<Orba::Node> root(&rootOf(s));
  if (isRootPath(path))
    return root;
  auto t = resolved(*root, path, path);
  if (t.attr->kind == Kiv::AttrKind::operation)
    throw CommandError(path + " is an operation, not an object");
  if (isCollection(*t.attr) && !t.key) {
    throw CommandError(path + " is a collection; name a member with [KEY] (list " + path +
                       " shows them)");
  }
  auto v = readAttr(t);
  auto const* h = handleIn(v);
  if (!h)
    throw CommandError(path + " is not an object but a value: " + valueText(v));
  if (!*h)
    throw CommandError(path + " is absent");
  return *h;
}

[[noreturn]] void unknownAttribute(Orba::Node const& n, std::string const& path,
                                   std::string const& name) {
  std::vector<std::string> names;
  for (auto const* a : Kiv::Generic::attributes(n))
    names.push_back(a->name);
  throw CommandError(shown(path) + " (" + typeName(n) + ") has no attribute " + name +
                     (names.empty() ? "" : "; it has: " + joined(names)));
}

// One attribute (or, with [KEY], one member) of the object a path names.
AttrTarget attributeAt(Session& s, std::string const& path, std::string const& attribute) {
  auto obj = objectAt(s, path);
  std::vector<PathStep> steps;
  try {
    steps = parsePath(attribute);
  } catch (std::invalid_argument const& e) {
    throw CommandError(e.what());
  }
  if (steps.size() != 1) {
    throw CommandError("'" + attribute +
                       "' is a path; ATTRIBUTE names one attribute of the object PATH names (the "
                       "objects on the way belong in PATH)");
  }
  if (!obj->typeData() || !obj->typeData()->attr(steps[0].name))
    unknownAttribute(*obj, path, steps[0].name);
  return resolved(*obj, attribute, joinPath(path, attribute));
}

// "a.b.c" as ("a.b", "c"), at the last dot outside brackets.
std::pair<std::string, std::string> splitLast(std::string const& full, char const* usage) {
  if (isRootPath(full))
    throw CommandError(std::string("usage: ") + usage);
  int depth = 0;
  for (std::size_t i = full.size(); i-- > 0;) {
    if (full[i] == ']')
      ++depth;
    else if (full[i] == '[')
      --depth;
    else if (full[i] == '.' && depth == 0)
      return {full.substr(0, i), full.substr(i + 1)};
  }
  return {".", full};
}

std::uint64_t number(std::string const& text, std::string const& what, std::uint64_t max) {
  std::string_view s = text;
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  std::uint64_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size() || v > max) {
    std::ostringstream os;
    os << what << " must be a number from 0 to " << max << " (or 0x" << std::hex << max
       << "), not '" << text << "'";
    throw CommandError(os.str());
  }
  return v;
}

void needArgs(std::vector<std::string> const& argv, std::size_t min, std::size_t max,
              char const* usage) {
  if (argv.size() < min || argv.size() > max)
    throw CommandError(std::string("usage: ") + usage);
}

void logged(Session& s, std::string const& what) {
  s.timeline().line("control", what);
}

// Commands.

Json showStatus(Session& s) {
  auto snap = snapshotOf(s.db().status());
  Json result = Json::parse(statusJson(snap, Kiv::System::currentTime()));
  std::map<unsigned, std::string> intfOf;
  for (auto const& m : s.db().mgmtInterfaces())
    intfOf[m.externalPort] = m.intfId;
  Table t({"port", "interface", "linkStatus", "link"});
  for (auto const& [port, entry] : result["ports"].items()) {
    auto it = intfOf.find(static_cast<unsigned>(std::stoul(port)));
    t.row({port, it == intfOf.end() ? "-" : it->second,
           std::to_string(entry["linkStatus"].get<unsigned>()), entry["link"].get<std::string>()});
  }
  std::string text = "error: " + (snap.error.empty() ? std::string("none") : snap.error) + "\n";
  text += snap.linkStatus.empty() ? "no port status published yet\n" : t.text("");
  return done(text, result);
}

// A collection's members in key order; keys of one type sort by their text,
// shorter first, so that numbers in it come in numeric order.
std::vector<std::pair<Kiv::Value, Kiv::Value>> sortedMembers(Orba::Node const& n,
                                                             std::string const& attr) {
  auto const* a = n.typeData() ? n.typeData()->attr(attr) : nullptr;
  if (!a || !a->members)
    return {};
  auto ms = Kiv::Generic::members(n, attr);
  std::sort(ms.begin(), ms.end(), [](auto const& x, auto const& y) {
    auto p = x.first.text(), q = y.first.text();
    return p.size() != q.size() ? p.size() < q.size() : p < q;
  });
  return ms;
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

Json showAgent(Session& s) {
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

// The members of a collection, key and value.
Json members(Orba::Node const& owner, Kiv::AttrDesc const& a, std::string const& where) {
  auto ms = sortedMembers(owner, a.name);
  Table t({"key", "value"});
  Json jm = Json::array();
  for (auto const& [key, value] : ms) {
    t.row({key.text(), valueText(value)});
    jm.push_back({{"key", key.text()}, {"value", valueJson(value)}});
  }
  std::string text = where + ": " + std::to_string(ms.size()) + " member" +
                     (ms.size() == 1 ? "" : "s") + "\n" + (ms.empty() ? "" : t.text());
  return done(text, Json{{"path", where}, {"members", jm}});
}

std::string accessText(Kiv::AttrDesc const& a) {
  std::string r;
  if (a.get || a.count)
    r += "r";
  if (a.set || a.insert)
    r += "w";
  if (a.call)
    r += "x";
  return r.empty() ? "-" : r;
}

std::string paramsText(std::vector<Kiv::ParamDesc> const& params) {
  std::vector<std::string> ps;
  for (auto const& p : params)
    ps.push_back(p.name + ": " + (p.type ? p.type->name : "?"));
  return "(" + joined(ps) + ")";
}

Json list(Session& s, std::string const& path) {
  if (!isRootPath(path)) {
    auto t = resolved(rootOf(s), path, path);
    if (isCollection(*t.attr) && !t.key) {
      if (!t.attr->members)
        throw CommandError(path + " cannot be iterated");
      return members(*t.owner, *t.attr, path);
    }
  }
  auto obj = objectAt(s, path);
  Table t({"attribute", "kind", "type", "access", "value"});
  Json attrs = Json::array();
  for (auto const* a : Kiv::Generic::attributes(*obj)) {
    std::string type = a->type ? a->type->name : "";
    if (a->keyType)
      type = a->keyType->name + " -> " + type;
    std::string value;
    Json jv = nullptr;
    if (a->kind == Kiv::AttrKind::operation) {
      value = paramsText(a->params);
    } else if (isCollection(*a)) {
      if (a->count) {
        auto n = Kiv::Generic::count(*obj, a->name);
        value = std::to_string(n) + " member" + (n == 1 ? "" : "s");
        jv = n;
      }
    } else if (a->get) {
      auto v = Kiv::Generic::get(*obj, a->name);
      value = valueText(v);
      jv = valueJson(v);
    }
    t.row({a->name, Kiv::kindName(a->kind), type, accessText(*a), value});
    attrs.push_back({{"name", a->name},
                     {"kind", Kiv::kindName(a->kind)},
                     {"type", type},
                     {"access", accessText(*a)},
                     {"value", jv}});
  }
  std::string text = shown(path) + ": " + typeName(*obj) + "\n" + t.text();
  return done(text, Json{{"path", isRootPath(path) ? "." : path},
                         {"type", typeName(*obj)},
                         {"attributes", attrs}});
}

Json get(Session& s, std::string const& path, std::string const& attribute) {
  auto t = attributeAt(s, path, attribute);
  auto full = joinPath(path, attribute);
  if (t.attr->kind == Kiv::AttrKind::operation)
    throw CommandError(full + " is an operation; run it with: call " + path + " " + t.attr->name);
  if (isCollection(*t.attr) && !t.key) {
    if (!t.attr->members)
      throw CommandError(full + " cannot be iterated");
    return members(*t.owner, *t.attr, full);
  }
  if (!t.key && !t.attr->readable())
    throw CommandError(full + " cannot be read");
  auto v = readAttr(t);
  return done(valueText(v), Json{{"path", full},
                                 {"type", v.empty() ? "" : v.type()->name},
                                 {"value", valueJson(v)},
                                 {"text", valueText(v)}});
}

Json set(Session& s, std::string const& path, std::string const& attribute,
         std::string const& value) {
  auto t = attributeAt(s, path, attribute);
  auto full = joinPath(path, attribute);
  if (t.key) {
    if (t.attr->kind != Kiv::AttrKind::collection || !t.attr->insert)
      throw CommandError(full + ": the members of " + t.attr->name + " cannot be set");
  } else if (!t.attr->writable()) {
    throw CommandError(full + " is read-only (" + Kiv::kindName(t.attr->kind) +
                       (t.attr->kind == Kiv::AttrKind::operation ? "; use call" : "") + ")");
  }
  try {
    writeAttr(t, value);
  } catch (Kiv::AttributeError const& e) {
    throw CommandError(full + ": " + e.what());
  }
  s.afterHostChange();
  auto now = readAttr(t);
  logged(s, "set " + full + " to " + valueText(now));
  return done(full + " = " + valueText(now),
              Json{{"path", full}, {"value", valueJson(now)}, {"text", valueText(now)}});
}

Json call(Session& s, std::string const& path, std::string const& op,
          std::vector<std::string> const& args) {
  auto t = attributeAt(s, path, op);
  auto full = joinPath(path, op);
  if (t.attr->kind != Kiv::AttrKind::operation) {
    throw CommandError(full + " is not an operation but a " +
                       std::string(Kiv::kindName(t.attr->kind)) + " attribute; read it with: get " +
                       path + " " + op);
  }
  if (!t.attr->call)
    throw CommandError(full + " cannot be called from outside the agent");
  Kiv::Value r;
  try {
    r = callAttr(t, args);
  } catch (Kiv::AttributeError const& e) {
    throw CommandError(full + ": " + e.what() + " " + paramsText(t.attr->params));
  }
  s.afterHostChange();
  logged(s, "called " + full + (args.empty() ? "" : " " + joined(args, " ")));
  return done(r.empty() ? "called " + full : valueText(r),
              Json{{"path", full}, {"value", valueJson(r)}});
}

Json trace(ControlContext& c, std::vector<std::string> const& argv) {
  if (argv.size() == 1) {
    Table t({"facility", "levels"});
    Json jr = Json::object();
    auto handles = Kiv::TraceHandle::handles();
    std::sort(handles.begin(), handles.end(),
              [](auto const* a, auto const* b) { return a->name() < b->name(); });
    for (auto const* h : handles) {
      auto m = c.traceLevels(h->name());
      t.row({h->name(), levelsText(m)});
      jr[h->name()] = levelsText(m);
    }
    return done(t.text(""), jr);
  }
  needArgs(argv, 3, 3, "trace FACILITY LEVELS (e.g. trace Bcm53134Agent 0,1,8)");
  auto const& facility = argv[1];
  std::vector<std::string> names;
  for (auto const* h : Kiv::TraceHandle::handles())
    names.push_back(h->name());
  if (facility != "*" && std::find(names.begin(), names.end(), facility) == names.end()) {
    std::sort(names.begin(), names.end());
    throw CommandError("no trace facility " + facility + " (facilities: " + joined(names) +
                       ", or * for all)");
  }
  std::uint32_t mask = 0;
  try {
    mask = Kiv::TraceHandle::parseLevels(argv[2]);
  } catch (std::invalid_argument const& e) {
    throw CommandError(std::string(e.what()) + "; levels are written 0,1,8 or 0-8 or all or none");
  }
  c.traceLevelsIs(facility, mask);
  logged(c.session, "trace " + facility + "/" + levelsText(mask));
  return done(facility + " levels " + levelsText(mask),
              Json{{"facility", facility}, {"levels", levelsText(mask)}});
}

Json sim(Session& s, std::vector<std::string> const& argv) {
  auto& chip = s.db().chip();
  std::string what = argv.size() > 1 ? argv[1] : "";
  Json r;
  std::string text;
  if (what == "link") {
    needArgs(argv, 4, 4, "sim link PORT up|down|flap");
    auto port = static_cast<Hardware::Mdio::PortAddr>(number(argv[2], "PORT", Chip::kPorts - 1));
    auto const& state = argv[3];
    if (state == "flap")
      chip.linkFlap(port);
    else if (state == "up" || state == "down")
      chip.linkIs(port, state == "up");
    else
      throw CommandError("the link state is up, down or flap, not '" + state + "'");
    text = "link " + std::to_string(port) + " " + state;
    r = {{"port", port}, {"link", state}};
  } else if (what == "reg") {
    needArgs(argv, 5, 5, "sim reg PAGE ADDR VALUE (e.g. sim reg 0x11 0x30 0x0)");
    // As the register service reaches them: page 0x10 + p, address a is MII
    // register a / 2 of the PHY of port p.
    auto page = number(argv[2], "PAGE", 0xff);
    auto addr = number(argv[3], "ADDR", 0xff);
    auto value = number(argv[4], "VALUE", 0xffff);
    if (page < 0x10 || page >= 0x10 + Chip::kPorts)
      throw CommandError("PAGE must be 0x10 to 0x17 (0x10 + port)");
    if (addr % 2 || addr >= 64)
      throw CommandError("ADDR must be even and below 0x40 (MII register ADDR / 2)");
    auto port = static_cast<Hardware::Mdio::PortAddr>(page - 0x10);
    auto reg = static_cast<std::uint8_t>(addr / 2);
    chip.regIs(port, reg, static_cast<std::uint16_t>(value));
    std::ostringstream os;
    os << std::hex << "chip page 0x" << page << " address 0x" << addr << " (port " << std::dec
       << unsigned(port) << std::hex << ", MII register 0x" << unsigned(reg) << ") set to 0x"
       << value;
    text = os.str();
    r = {{"page", page}, {"addr", addr}, {"port", port}, {"miiRegister", reg}, {"value", value}};
  } else if (what == "fail") {
    if (argv.size() < 4)
      throw CommandError("usage: sim fail COUNT TEXT");
    auto count = static_cast<unsigned>(number(argv[2], "COUNT", 1000000));
    std::string error = joined({argv.begin() + 3, argv.end()}, " ");
    if (error.empty())
      throw CommandError("TEXT must not be empty");
    chip.failNextAccesses(count, error);
    text = "the next " + std::to_string(count) + " register accesses fail: " + error;
    r = {{"count", count}, {"error", error}};
  } else {
    throw CommandError(
        "usage: sim link PORT up|down|flap | sim reg PAGE ADDR VALUE | "
        "sim fail COUNT TEXT");
  }
  s.afterHostChange();
  logged(s, text + " (by hand)");
  return done(text, r);
}

Json dispatch(ControlContext& c, std::vector<std::string> const& argv) {
  auto& s = c.session;
  std::string cmd = argv.empty() ? "" : argv[0];
  if (cmd == "show") {
    needArgs(argv, 2, 2, "show status | show agent");
    if (argv[1] == "status")
      return showStatus(s);
    if (argv[1] == "agent")
      return showAgent(s);
    throw CommandError("usage: show status | show agent");
  }
  if (cmd == "get") {
    needArgs(argv, 2, 3, "get PATH ATTRIBUTE");
    if (argv.size() == 2) {
      auto [path, attribute] = splitLast(argv[1], "get PATH ATTRIBUTE");
      return get(s, path, attribute);
    }
    return get(s, argv[1], argv[2]);
  }
  if (cmd == "set") {
    needArgs(argv, 3, 4, "set PATH ATTRIBUTE VALUE");
    if (argv.size() == 3) {
      auto [path, attribute] = splitLast(argv[1], "set PATH ATTRIBUTE VALUE");
      return set(s, path, attribute, argv[2]);
    }
    return set(s, argv[1], argv[2], argv[3]);
  }
  if (cmd == "call") {
    if (argv.size() < 3)
      throw CommandError("usage: call PATH OPERATION [ARGS...]");
    return call(s, argv[1], argv[2], {argv.begin() + 3, argv.end()});
  }
  if (cmd == "list") {
    needArgs(argv, 1, 2, "list [PATH]");
    return list(s, argv.size() == 2 ? argv[1] : ".");
  }
  if (cmd == "trace")
    return trace(c, argv);
  if (cmd == "sim")
    return sim(s, argv);
  if (cmd == "help")
    return done(controlHelp());
  throw CommandError((cmd.empty() ? std::string("no command") : "unknown command '" + cmd + "'") +
                     "; the commands are: show, get, set, call, list, trace, sim, help");
}

}  // namespace

Json controlCommand(ControlContext& context, std::vector<std::string> const& argv) {
  try {
    return dispatch(context, argv);
  } catch (std::exception const& e) {
    return Json{{"ok", false}, {"error", e.what()}};
  }
}

std::string controlHelp() {
  return Control::commandSummary();
}

std::uint32_t handleTraceLevels(std::string const& facility) {
  auto const* h = Kiv::TraceHandle::handle(facility);
  return h ? h->mask() : 0;
}

void handleTraceLevelsIs(std::string const& facility, std::uint32_t mask) {
  Kiv::TraceHandle::maskSpecIs(facility + "/" + levelsText(mask));
}

}  // namespace Host
