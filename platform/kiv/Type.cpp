#include "platform/kiv/Type.h"

#include <cstdio>
#include <sstream>

#include "platform/kiv/Dir.h"

namespace Kiv {

char const* kindName(AttrKind k) {
  switch (k) {
    case AttrKind::value:
      return "value";
    case AttrKind::handle:
      return "handle";
    case AttrKind::collection:
      return "collection";
    case AttrKind::instantiating:
      return "instantiating";
    case AttrKind::operation:
      return "operation";
    case AttrKind::constant:
      return "constant";
  }
  return "?";
}

std::vector<AttrDesc const*> TypeDesc::allAttrs() const {
  std::vector<AttrDesc const*> r = base ? base->allAttrs() : std::vector<AttrDesc const*>{};
  for (auto const& a : attrs)
    r.push_back(&a);
  return r;
}

AttrDesc const* TypeDesc::attr(std::string_view n) const {
  for (auto const& a : attrs) {
    if (a.name == n)
      return &a;
  }
  return base ? base->attr(n) : nullptr;
}

AttrDesc const* TypeDesc::attr(AttributeId id) const {
  for (auto const& a : attrs) {
    if (a.id == id)
      return &a;
  }
  return base ? base->attr(id) : nullptr;
}

AttributeId TypeDesc::attrId(std::string_view n) const {
  auto const* a = attr(n);
  if (!a)
    throw AttributeError("type " + name + " has no attribute " + std::string(n));
  return a->id;
}

bool TypeDesc::isA(TypeDesc const* other) const {
  for (auto const* t = this; t; t = t->base) {
    if (t == other)
      return true;
  }
  return false;
}

TypeRegistry& TypeRegistry::instance() {
  static TypeRegistry r;
  return r;
}

void TypeRegistry::typeIs(TypeDesc const* t) {
  for (auto*& have : types_) {
    if (have->name == t->name) {
      have = t;
      return;
    }
  }
  types_.push_back(t);
}

TypeDesc const* TypeRegistry::type(std::string_view name) const {
  for (auto const* t : types_) {
    if (t->name == name)
      return t;
  }
  return nullptr;
}

std::vector<TypeDesc const*> TypeRegistry::types() const {
  return types_;
}

TypeModule::TypeModule(std::initializer_list<TypeDesc const*> types) {
  for (auto const* t : types)
    TypeRegistry::instance().typeIs(t);
}

TypeDesc primitiveType(std::string name, std::function<std::string(std::any const&)> print,
                       std::function<std::any(std::string_view)> parse,
                       std::function<bool(std::any const&, std::any const&)> equal) {
  TypeDesc d;
  d.name = std::move(name);
  d.kind = TypeKind::primitive;
  d.print = std::move(print);
  d.parse = std::move(parse);
  d.equal = std::move(equal);
  return d;
}

TypeDesc entityType(std::string name, TypeDesc const* base) {
  TypeDesc d;
  d.name = std::move(name);
  d.kind = TypeKind::entity;
  d.base = base;
  d.print = [](std::any const& a) -> std::string {
    auto const& p = std::any_cast<Orba::Ptr<Orba::Node> const&>(a);
    if (!p)
      return "<empty>";
    std::ostringstream os;
    os << *p;
    return os.str();
  };
  d.equal = [](std::any const& a, std::any const& b) {
    return std::any_cast<Orba::Ptr<Orba::Node> const&>(a) ==
           std::any_cast<Orba::Ptr<Orba::Node> const&>(b);
  };
  return d;
}

Value parseValue(TypeDesc const* type, std::string_view text) {
  if (!type)
    throw AttributeError("no type to parse '" + std::string(text) + "' as");
  if (!type->parse) {
    throw AttributeError("a value of type " + type->name + " cannot be given as text");
  }
  return Value(type, type->parse(text));
}

std::string Value::text() const {
  if (!type_)
    return "<none>";
  if (!type_->print)
    return "<" + type_->name + ">";
  return type_->print(v_);
}

bool Value::operator==(Value const& o) const {
  if (type_ != o.type_)
    return false;
  if (!type_)
    return true;
  return type_->equal ? type_->equal(v_, o.v_) : false;
}

}  // namespace Kiv
