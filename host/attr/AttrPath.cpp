#include "host/attr/AttrPath.h"

#include <any>
#include <stdexcept>

namespace Host {

namespace {

Orba::Ptr<Orba::Node> const* handleIn(Kiv::Value const& v) {
  return v.empty() ? nullptr : std::any_cast<Orba::Ptr<Orba::Node>>(&v.raw());
}

bool isAbsent(Kiv::Value const& v) {
  if (v.empty())
    return true;
  auto const* h = handleIn(v);
  return h && !*h;
}

bool validName(std::string const& n) {
  if (n.empty())
    return false;
  for (char c : n) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
      return false;
  }
  return true;
}

}  // namespace

std::vector<PathStep> parsePath(std::string_view text) {
  std::vector<PathStep> steps;
  std::size_t i = 0;
  auto bad = [&](std::string const& why) {
    throw std::invalid_argument("attribute path '" + std::string(text) + "': " + why);
  };
  while (true) {
    PathStep s;
    while (i < text.size() && text[i] != '.' && text[i] != '[')
      s.name += text[i++];
    if (!validName(s.name))
      bad("'" + s.name + "' is not an attribute name");
    if (i < text.size() && text[i] == '[') {
      int depth = 1;
      std::string key;
      for (++i; i < text.size(); ++i) {
        if (text[i] == '[') {
          ++depth;
        } else if (text[i] == ']' && --depth == 0) {
          break;
        }
        key += text[i];
      }
      if (depth != 0)
        bad("a [ without its ]");
      ++i;
      s.key = key;
    }
    steps.push_back(std::move(s));
    if (i == text.size())
      break;
    if (text[i] != '.')
      bad("expected . after ]");
    if (++i == text.size())
      bad("ends with .");
  }
  return steps;
}

AttrTarget resolvePath(Orba::Node& root, std::string const& path) {
  std::vector<PathStep> steps;
  try {
    steps = parsePath(path);
  } catch (std::invalid_argument const& e) {
    throw Kiv::AttributeError(e.what());
  }
  Orba::Ptr<Orba::Node> node(&root);
  std::string walked;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    auto const& s = steps[i];
    AttrTarget t;
    t.owner = node;
    t.attr = &Kiv::Generic::attribute(*node, s.name);
    if (s.key) {
      if (!t.attr->keyType)
        throw Kiv::AttributeError(path + ": " + s.name + " is not a keyed collection");
      t.key = Kiv::parseValue(t.attr->keyType, *s.key);
    }
    walked += (walked.empty() ? "" : ".") + s.name + (s.key ? "[" + *s.key + "]" : "");
    if (i + 1 == steps.size())
      return t;
    auto v = readAttr(t);
    if (isAbsent(v))
      throw Kiv::AttributeError(path + ": " + walked + (s.key ? " is absent" : " is empty"));
    auto const* h = handleIn(v);
    if (!h)
      throw Kiv::AttributeError(path + ": " + walked + " is not an entity (" + v.text() + ")");
    node = *h;
  }
  throw Kiv::AttributeError("empty attribute path");
}

Kiv::Value readAttr(AttrTarget const& t) {
  if (t.key)
    return Kiv::Generic::lookup(*t.owner, t.attr->name, *t.key);
  return Kiv::Generic::get(*t.owner, t.attr->name);
}

void writeAttr(AttrTarget const& t, std::string const& text) {
  if (t.key) {
    Kiv::Generic::insert(*t.owner, t.attr->name, {*t.key, Kiv::parseValue(t.attr->type, text)});
  } else {
    Kiv::Generic::setText(*t.owner, t.attr->name, text);
  }
}

void writeAttr(AttrTarget const& t, Kiv::Value const& v) {
  if (t.key) {
    Kiv::Generic::insert(*t.owner, t.attr->name, {*t.key, v});
  } else {
    Kiv::Generic::set(*t.owner, t.attr->name, v);
  }
}

Kiv::Value callAttr(AttrTarget const& t, std::vector<std::string> const& args) {
  return Kiv::Generic::call(*t.owner, t.attr->name,
                            Kiv::Generic::parseArgs(t.attr->params, args, t.attr->name));
}

Kiv::Value insertAttr(AttrTarget const& t, std::vector<std::string> const& args) {
  return Kiv::Generic::insert(*t.owner, t.attr->name,
                              Kiv::Generic::parseArgs(t.attr->params, args, t.attr->name));
}

Kiv::Value deleteAttr(AttrTarget const& t) {
  return Kiv::Generic::del(*t.owner, t.attr->name, t.key ? *t.key : Kiv::Value());
}

bool valueMatches(Kiv::Value const& v, std::string const& expected) {
  if (expected == "absent")
    return isAbsent(v);
  if (isAbsent(v))
    return false;
  if (v.type() && v.type()->parse) {
    try {
      return Kiv::parseValue(v.type(), expected) == v;
    } catch (Kiv::AttributeError const&) {
      return false;
    }
  }
  return v.text() == expected;
}

std::string valueText(Kiv::Value const& v) {
  if (isAbsent(v))
    return "absent";
  return v.text();
}

}  // namespace Host
