#pragma once

// Builders for attribute tables, so that every type states its table the same
// way: as one list of attributes, each a call that names its id, name, type
// and accessors.

#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/kiv/Type.h"

namespace Kiv {

using Getter = std::function<Value(Orba::Node const&)>;
using Setter = std::function<void(Orba::Node&, Value const&)>;
using Caller = std::function<Value(Orba::Node&, std::vector<Value> const&)>;

namespace detail {
template <class>
struct MemberGet;
template <class Obj, class R>
struct MemberGet<R (Obj::*)() const> {
  using Object = Obj;
  using Result = std::remove_cvref_t<R>;
};
template <class Obj, class R>
struct MemberGet<R (Obj::*)() const noexcept> : MemberGet<R (Obj::*)() const> {};
template <class>
struct MemberOp;
template <class Obj>
struct MemberOp<void (Obj::*)()> {
  using Object = Obj;
};
template <class Obj>
struct MemberOp<void (Obj::*)() noexcept> : MemberOp<void (Obj::*)()> {};
}  // namespace detail

template <class T>
ParamDesc param(std::string name) {
  return ParamDesc{std::move(name), &TypeOf<T>::desc()};
}

// A value attribute read (and, with a setter, written) through accessors.
template <class T>
AttrDesc readOnly(AttributeId id, std::string name, Getter get) {
  return AttrDesc{
      .id = id, .name = std::move(name), .type = &TypeOf<T>::desc(), .get = std::move(get)};
}

template <class T>
AttrDesc readWrite(AttributeId id, std::string name, Getter get, Setter set) {
  auto a = readOnly<T>(id, std::move(name), std::move(get));
  a.set = std::move(set);
  return a;
}

// The same, through the class's own accessor (and mutator), `T get() const`
// and `void set(T)`.
template <auto Get>
AttrDesc readOnly(AttributeId id, std::string name) {
  using M = detail::MemberGet<decltype(Get)>;
  return readOnly<typename M::Result>(id, std::move(name), [](Orba::Node const& n) {
    return Value::of((self<typename M::Object>(n).*Get)());
  });
}

template <auto Get, auto Set>
AttrDesc readWrite(AttributeId id, std::string name) {
  using M = detail::MemberGet<decltype(Get)>;
  auto a = readOnly<Get>(id, std::move(name));
  a.set = [](Orba::Node& n, Value const& v) {
    (self<typename M::Object>(n).*Set)(v.as<typename M::Result>());
  };
  return a;
}

// A member of a value type: listed by name and type, read as part of the
// value's text.
template <class T>
AttrDesc member(AttributeId id, std::string name) {
  return AttrDesc{.id = id, .name = std::move(name), .type = &TypeOf<T>::desc()};
}

// A handle to an entity of the given type; writable when a setter is given.
inline AttrDesc handleTo(TypeDesc const* type, AttributeId id, std::string name, Getter get,
                         Setter set = nullptr) {
  return AttrDesc{.id = id,
                  .name = std::move(name),
                  .kind = AttrKind::handle,
                  .type = type,
                  .get = std::move(get),
                  .set = std::move(set)};
}

template <class E>
AttrDesc handle(AttributeId id, std::string name, Getter get, Setter set = nullptr) {
  return handleTo(&E::typeDesc(), id, std::move(name), std::move(get), std::move(set));
}

// An operation; one without a call is listed but cannot be called through the
// interface. The result type is for operations that return a value.
inline AttrDesc operation(AttributeId id, std::string name, std::vector<ParamDesc> params = {},
                          Caller call = nullptr, TypeDesc const* result = nullptr) {
  return AttrDesc{.id = id,
                  .name = std::move(name),
                  .kind = AttrKind::operation,
                  .type = result,
                  .params = std::move(params),
                  .call = std::move(call)};
}

// An operation that calls `void Op()` on the object.
template <auto Op>
AttrDesc voidOperation(AttributeId id, std::string name) {
  return operation(id, std::move(name), {}, [](Orba::Node& n, std::vector<Value> const&) {
    (self<typename detail::MemberOp<decltype(Op)>::Object>(n).*Op)();
    return Value();
  });
}

// A read-only constant of the type.
template <class T>
AttrDesc constant(AttributeId id, std::string name, T value) {
  return AttrDesc{.id = id,
                  .name = std::move(name),
                  .kind = AttrKind::constant,
                  .type = &TypeOf<T>::desc(),
                  .get = [value](Orba::Node const&) { return Value::of(value); }};
}

// The accessors of a keyed collection: lookup by key, count and members in
// key order; insertion (with its parameters) and deletion where the
// interface may change it. In the order of AttrDesc's own fields.
struct CollectionAccess {
  std::vector<ParamDesc> params{};
  std::function<Value(Orba::Node const&, Value const& key)> lookup{};
  Caller insert{};
  std::function<Value(Orba::Node&, Value const& key)> del{};
  std::function<std::size_t(Orba::Node const&)> count{};
  std::function<std::vector<std::pair<Value, Value>>(Orba::Node const&)> members{};
};

// A collection of values or handles of the element type, keyed by keyType.
// An instantiating collection creates its elements on insertion.
inline AttrDesc collection(AttributeId id, std::string name, TypeDesc const* type,
                           TypeDesc const* keyType, CollectionAccess access,
                           AttrKind kind = AttrKind::collection) {
  return AttrDesc{.id = id,
                  .name = std::move(name),
                  .kind = kind,
                  .type = type,
                  .keyType = keyType,
                  .params = std::move(access.params),
                  .lookup = std::move(access.lookup),
                  .insert = std::move(access.insert),
                  .del = std::move(access.del),
                  .count = std::move(access.count),
                  .members = std::move(access.members)};
}

inline AttrDesc instantiatingCollection(AttributeId id, std::string name, TypeDesc const* type,
                                        TypeDesc const* keyType, CollectionAccess access) {
  return collection(id, std::move(name), type, keyType, std::move(access), AttrKind::instantiating);
}

// An instantiating handle: read, create with the given arguments, delete.
inline AttrDesc instantiatingHandle(AttributeId id, std::string name, TypeDesc const* type,
                                    std::vector<ParamDesc> params, Getter get, Caller insert,
                                    std::function<Value(Orba::Node&, Value const&)> del) {
  return AttrDesc{.id = id,
                  .name = std::move(name),
                  .kind = AttrKind::instantiating,
                  .type = type,
                  .params = std::move(params),
                  .get = std::move(get),
                  .insert = std::move(insert),
                  .del = std::move(del)};
}

// A handle value, or no value for a null handle.
Value orNone(auto const& ptr) {
  return ptr ? Value::of(ptr) : Value();
}

// The (key, element) pairs of an ordered map, in its order.
template <class Map>
std::vector<std::pair<Value, Value>> membersOf(Map const& m) {
  std::vector<std::pair<Value, Value>> r;
  for (auto const& [k, v] : m)
    r.emplace_back(Value::of(k), Value::of(v));
  return r;
}

}  // namespace Kiv
