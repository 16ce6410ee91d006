#include "platform/kiv/Generic.h"

namespace Kiv::Generic {

namespace {

std::string typeName(Orba::Node const& n) {
  auto const* t = n.typeData();
  return t ? t->name : std::string("an unregistered type");
}

[[noreturn]] void notOffered(Orba::Node const& n, AttrDesc const& a, char const* what) {
  throw AttributeError("attribute " + a.name + " of " + typeName(n) + " (" + kindName(a.kind) +
                       ") cannot be " + what);
}

// Arguments must be of the parameter's type (entity handles of the type or
// a type derived from it; an empty handle passes as a null argument).
void checkArgs(std::vector<ParamDesc> const& params, std::vector<Value> const& args,
               std::string const& what) {
  if (args.size() != params.size()) {
    throw AttributeError(what + " takes " + std::to_string(params.size()) + " argument" +
                         (params.size() == 1 ? "" : "s") + ", " + std::to_string(args.size()) +
                         " given");
  }
  for (std::size_t i = 0; i < params.size(); ++i) {
    auto const* want = params[i].type;
    auto const& v = args[i];
    if (!want)
      throw AttributeError(what + ": argument " + params[i].name + " has no declared type");
    bool ok = false;
    if (want->kind == TypeKind::entity) {
      if (v.empty()) {
        ok = true;
      } else if (auto const* p = std::any_cast<Orba::Ptr<Orba::Node>>(&v.raw())) {
        ok = !*p || ((*p)->typeData() && (*p)->typeData()->isA(want));
      }
    } else {
      ok = v.type() == want;
    }
    if (!ok) {
      throw AttributeError(what + ": argument " + params[i].name + " must be " + want->name +
                           ", got " + (v.empty() ? "none" : v.type()->name + " " + v.text()));
    }
  }
}

void checkKey(AttrDesc const& a, Value const& key, Orba::Node const& n) {
  if (a.keyType && key.type() != a.keyType) {
    throw AttributeError("the key of " + a.name + " of " + typeName(n) + " is " + a.keyType->name +
                         ", got " + (key.empty() ? "none" : key.type()->name + " " + key.text()));
  }
}

}  // namespace

AttrDesc const& attribute(Orba::Node const& n, std::string_view attr) {
  auto const* t = n.typeData();
  AttrDesc const* a = t ? t->attr(attr) : nullptr;
  if (!a) {
    throw AttributeError("type " + typeName(n) + " has no attribute " + std::string(attr));
  }
  return *a;
}

std::vector<AttrDesc const*> attributes(Orba::Node const& n) {
  auto const* t = n.typeData();
  return t ? t->allAttrs() : std::vector<AttrDesc const*>{};
}

Value get(Orba::Node const& n, std::string_view attr) {
  auto const& a = attribute(n, attr);
  if (!a.get)
    notOffered(n, a, "read");
  return a.get(n);
}

void set(Orba::Node& n, std::string_view attr, Value const& v) {
  auto const& a = attribute(n, attr);
  if (!a.set)
    notOffered(n, a, "written");
  checkArgs({ParamDesc{a.name, a.type}}, {v}, "writing " + a.name + " of " + typeName(n));
  a.set(n, v);
}

void setText(Orba::Node& n, std::string_view attr, std::string_view text) {
  auto const& a = attribute(n, attr);
  if (!a.set)
    notOffered(n, a, "written");
  set(n, attr, parseValue(a.type, text));
}

Value lookup(Orba::Node const& n, std::string_view attr, Value const& key) {
  auto const& a = attribute(n, attr);
  if (!a.lookup)
    notOffered(n, a, "looked up by key");
  checkKey(a, key, n);
  return a.lookup(n, key);
}

bool has(Orba::Node const& n, std::string_view attr, Value const& key) {
  auto const v = lookup(n, attr, key);
  if (v.empty())
    return false;
  if (auto const* p = std::any_cast<Orba::Ptr<Orba::Node>>(&v.raw()))
    return static_cast<bool>(*p);
  return true;
}

std::size_t count(Orba::Node const& n, std::string_view attr) {
  auto const& a = attribute(n, attr);
  if (!a.count)
    notOffered(n, a, "counted");
  return a.count(n);
}

std::vector<std::pair<Value, Value>> members(Orba::Node const& n, std::string_view attr) {
  auto const& a = attribute(n, attr);
  if (!a.members)
    notOffered(n, a, "iterated");
  return a.members(n);
}

Value insert(Orba::Node& n, std::string_view attr, std::vector<Value> const& args) {
  auto const& a = attribute(n, attr);
  if (!a.insert)
    notOffered(n, a, "instantiated or inserted into");
  checkArgs(a.params, args,
            (a.kind == AttrKind::collection ? "inserting into " : "instantiating ") + a.name +
                " of " + typeName(n));
  return a.insert(n, args);
}

Value del(Orba::Node& n, std::string_view attr, Value const& key) {
  auto const& a = attribute(n, attr);
  if (!a.del)
    notOffered(n, a, "deleted");
  if (a.keyType)
    checkKey(a, key, n);
  return a.del(n, key);
}

Value call(Orba::Node& n, std::string_view attr, std::vector<Value> const& args) {
  auto const& a = attribute(n, attr);
  if (!a.call)
    notOffered(n, a, "called");
  checkArgs(a.params, args, "calling " + a.name + " of " + typeName(n));
  return a.call(n, args);
}

Value construct(std::string_view typeName, std::vector<Value> const& args) {
  auto const* t = TypeRegistry::instance().type(typeName);
  if (!t)
    throw AttributeError("no type named " + std::string(typeName));
  if (!t->construct)
    throw AttributeError("type " + t->name + " cannot be constructed generically");
  checkArgs(t->ctorParams, args, "constructing " + t->name);
  return t->construct(args);
}

std::vector<Value> parseArgs(std::vector<ParamDesc> const& params,
                             std::vector<std::string> const& texts, std::string_view what) {
  if (texts.size() != params.size()) {
    throw AttributeError(std::string(what) + " takes " + std::to_string(params.size()) +
                         " argument" + (params.size() == 1 ? "" : "s") + ", " +
                         std::to_string(texts.size()) + " given");
  }
  std::vector<Value> r;
  for (std::size_t i = 0; i < params.size(); ++i)
    r.push_back(parseValue(params[i].type, texts[i]));
  return r;
}

}  // namespace Kiv::Generic
