#include "host/control/CommandFamilies.h"

#include <sstream>

#include "host/agent/RunningAgent.h"
#include "host/attr/AttrPath.h"
#include "host/control/CommandSupport.h"

// get, set, call and list: the agent read, written and called through
// attribute paths from its root.
namespace Host::Commands {

namespace {

bool isRootPath(std::string const& p) {
  return p.empty() || p == "." || p == "/";
}

std::string shown(std::string const& path) {
  return isRootPath(path) ? "the root" : path;
}

std::string joinPath(std::string const& path, std::string const& attribute) {
  return isRootPath(path) ? attribute : path + "." + attribute;
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
Orba::Ptr<Orba::Node> objectAt(RunningAgent& s, std::string const& path) {
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
AttrTarget attributeAt(RunningAgent& s, std::string const& path, std::string const& attribute) {
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

Json list(RunningAgent& s, std::string const& path) {
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

Json get(RunningAgent& s, std::string const& path, std::string const& attribute) {
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

Json set(RunningAgent& s, std::string const& path, std::string const& attribute,
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

Json call(RunningAgent& s, std::string const& path, std::string const& op,
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

}  // namespace

Json getCommand(ControlContext& c, std::vector<std::string> const& argv) {
  needArgs(argv, 2, 3, "get PATH ATTRIBUTE");
  if (argv.size() == 2) {
    auto [path, attribute] = splitLast(argv[1], "get PATH ATTRIBUTE");
    return get(c.agent, path, attribute);
  }
  return get(c.agent, argv[1], argv[2]);
}

Json setCommand(ControlContext& c, std::vector<std::string> const& argv) {
  needArgs(argv, 3, 4, "set PATH ATTRIBUTE VALUE");
  if (argv.size() == 3) {
    auto [path, attribute] = splitLast(argv[1], "set PATH ATTRIBUTE VALUE");
    return set(c.agent, path, attribute, argv[2]);
  }
  return set(c.agent, argv[1], argv[2], argv[3]);
}

Json callCommand(ControlContext& c, std::vector<std::string> const& argv) {
  if (argv.size() < 3)
    throw CommandError("usage: call PATH OPERATION [ARGS...]");
  return call(c.agent, argv[1], argv[2], {argv.begin() + 3, argv.end()});
}

Json listCommand(ControlContext& c, std::vector<std::string> const& argv) {
  needArgs(argv, 1, 2, "list [PATH]");
  return list(c.agent, argv.size() == 2 ? argv[1] : ".");
}

}  // namespace Host::Commands
