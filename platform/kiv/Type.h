#pragma once

#include <any>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kiv/Value.h"
#include "platform/orba/Publisher.h"

namespace Kiv {

enum class TypeKind { primitive, value, enumeration, entity };
enum class AttrKind { value, handle, collection, instantiating, operation, constant };
char const* kindName(AttrKind k);

// Misuse of the generic attribute interface: an unknown attribute, a
// read-only attribute written, an argument of the wrong type, text that does
// not parse. Never a crash.
class AttributeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ParamDesc {
  std::string name{};
  TypeDesc const* type = nullptr;
};

// One attribute of a type: its identity, kind, access and the small accessor
// functions over the generic value type. An accessor that is not set means
// the access is not offered. Every field has a default, so a table may name
// only the fields it uses (designated initializers).
struct AttrDesc {
  AttributeId id = 0;
  std::string name{};
  AttrKind kind = AttrKind::value;
  TypeDesc const* type = nullptr;     // value, element or result type
  TypeDesc const* keyType = nullptr;  // collections
  std::vector<ParamDesc> params{};    // operation or instantiation arguments

  std::function<Value(Orba::Node const&)> get{};
  std::function<void(Orba::Node&, Value const&)> set{};
  std::function<Value(Orba::Node const&, Value const& key)> lookup{};
  std::function<Value(Orba::Node&, std::vector<Value> const&)> insert{};
  std::function<Value(Orba::Node&, Value const& key)> del{};
  std::function<std::size_t(Orba::Node const&)> count{};
  std::function<std::vector<std::pair<Value, Value>>(Orba::Node const&)> members{};
  std::function<Value(Orba::Node&, std::vector<Value> const&)> call{};

  bool readable() const { return static_cast<bool>(get); }
  bool writable() const { return static_cast<bool>(set); }
};

// A registered type: its full name, kind and attribute table in declaration
// order. Value types also carry their text conversions; entity types may
// offer generic construction.
struct TypeDesc {
  std::string name{};
  TypeKind kind = TypeKind::primitive;
  TypeDesc const* base = nullptr;  // entity base type, whose attributes come first
  std::vector<AttrDesc> attrs{};

  std::function<std::string(std::any const&)> print{};
  std::function<std::any(std::string_view)> parse{};  // throws AttributeError
  std::function<bool(std::any const&, std::any const&)> equal{};

  // The name of an entity of this type that is named otherwise than by an
  // attribute "name" (Kiv::fetchName, and so entity printing, use it).
  std::function<std::string(Orba::Node const&)> nameOf{};

  std::vector<ParamDesc> ctorParams{};
  std::function<Value(std::vector<Value> const&)> construct{};
  // The hook through which a directory creates an entity of this type under
  // a name (Kiv::Dir::entityCreate); further creation arguments follow the
  // name.
  std::function<Value(std::string const& name, std::vector<Value> const& more)> dirCreate{};

  // Own and inherited attributes, base first.
  std::vector<AttrDesc const*> allAttrs() const;
  AttrDesc const* attr(std::string_view name) const;
  AttrDesc const* attr(AttributeId id) const;
  // Id of an attribute that must exist (descriptor tables use it to filter
  // notifications without magic numbers).
  AttributeId attrId(std::string_view name) const;
  bool isA(TypeDesc const* other) const;
};

// Process-wide registry of types by full name. Type modules register at
// library load.
class TypeRegistry {
 public:
  static TypeRegistry& instance();
  void typeIs(TypeDesc const* t);
  TypeDesc const* type(std::string_view name) const;
  std::vector<TypeDesc const*> types() const;

 private:
  std::vector<TypeDesc const*> types_;
};

// Registers a list of types when constructed; a module keeps one static
// instance so that loading its library registers its types.
struct TypeModule {
  TypeModule(std::initializer_list<TypeDesc const*> types);
};

// Descriptor builders for the common shapes; each module states its tables
// with these in one place.
TypeDesc primitiveType(std::string name, std::function<std::string(std::any const&)> print,
                       std::function<std::any(std::string_view)> parse,
                       std::function<bool(std::any const&, std::any const&)> equal);

template <class T>
TypeDesc valueType(std::string name, std::function<std::string(T const&)> print,
                   std::function<T(std::string_view)> parse, TypeKind kind = TypeKind::value) {
  TypeDesc d;
  d.name = std::move(name);
  d.kind = kind;
  d.print = [print](std::any const& a) { return print(std::any_cast<T const&>(a)); };
  d.parse = [parse](std::string_view s) { return std::any(parse(s)); };
  d.equal = [](std::any const& a, std::any const& b) {
    return std::any_cast<T const&>(a) == std::any_cast<T const&>(b);
  };
  return d;
}

// Entity type descriptors print handles by address and name.
TypeDesc entityType(std::string name, TypeDesc const* base = nullptr);

// A type's descriptor, built in place on first use. The descriptor's address
// exists before build() fills it, so a table may name its own type and types
// whose tables name it back; while building, only their addresses may be
// used. Tag is the described class:
//   TypeDesc const& Foo::typeDesc() {
//     return typeBuiltOnce<Foo>([](TypeDesc& t) { t = entityType("Foo"); t.attrs = {...}; });
//   }
template <class Tag, class Build>
TypeDesc const& typeBuiltOnce(Build&& build) {
  static TypeDesc d;
  static bool started = false;
  if (!started) {
    started = true;
    build(d);
  }
  return d;
}

// Converts text to a value of the given type (entity types cannot be parsed).
Value parseValue(TypeDesc const* type, std::string_view text);

// Accessor helpers for attribute tables.
template <class Obj>
Obj const& self(Orba::Node const& n) {
  return static_cast<Obj const&>(n);
}
template <class Obj>
Obj& self(Orba::Node& n) {
  return static_cast<Obj&>(n);
}

template <class T>
T Value::as() const {
  if (!type_)
    throw AttributeError("expected a value of type " + TypeOf<T>::desc().name + ", got none");
  if (auto const* p = std::any_cast<T>(&v_))
    return *p;
  throw AttributeError("expected a value of type " + TypeOf<T>::desc().name + ", got " +
                       type_->name + " " + text());
}

// Handles: the stored node checked against the wanted entity class.
template <class E>
Orba::Ptr<E> handleAs(Value const& v) {
  if (v.empty())
    return {};
  auto const* p = std::any_cast<Orba::Ptr<Orba::Node>>(&v.raw());
  if (!p)
    throw AttributeError("expected a handle to " + E::typeDesc().name + ", got " + v.text());
  if (!*p)
    return {};
  auto r = Orba::ptrCast<E>(*p);
  if (!r)
    throw AttributeError("expected a handle to " + E::typeDesc().name + ", got " + v.text());
  return r;
}

}  // namespace Kiv
