#pragma once

#include <any>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/orba/Node.h"

namespace Kiv {

struct TypeDesc;
using Seconds = double;
using U8 = std::uint8_t;
using U16 = std::uint16_t;
using U32 = std::uint32_t;
using U64 = std::uint64_t;

// Type traits that tie a C++ type to its registered descriptor. Every type
// that travels through the generic attribute interface has one: the platform
// defines them for the primitives, each module for its own value types and
// enumerations, and entity handles use the entity's static typeDesc().
template <class T>
struct TypeOf;

// The primitive types: bool, U8, U16, U32, U64, I32, I64, Kiv::Seconds
// (double) and Orba::String.
#define KIV_PRIMITIVE(T)           \
  template <>                      \
  struct TypeOf<T> {               \
    static TypeDesc const& desc(); \
  };
KIV_PRIMITIVE(bool)
KIV_PRIMITIVE(std::uint8_t)
KIV_PRIMITIVE(std::uint16_t)
KIV_PRIMITIVE(std::uint32_t)
KIV_PRIMITIVE(std::uint64_t)
KIV_PRIMITIVE(std::int32_t)
KIV_PRIMITIVE(std::int64_t)
KIV_PRIMITIVE(double)
KIV_PRIMITIVE(std::string)
#undef KIV_PRIMITIVE

// Entity handles: the entity's own static descriptor.
template <class T>
requires requires {
  T::typeDesc();
}
struct TypeOf<T> {
  static TypeDesc const& desc() { return T::typeDesc(); }
};

// One value of any registered type, as the generic attribute interface passes
// it. Entity handles travel as Orba::Ptr<Orba::Node> tagged with the entity's
// declared type.
class Value {
 public:
  Value() = default;
  Value(TypeDesc const* type, std::any v) : type_(type), v_(std::move(v)) {}

  template <class T>
  static Value of(T v) {
    if constexpr (IsPtr<T>::value) {
      using E = typename IsPtr<T>::element;
      return Value(&TypeOf<std::remove_const_t<E>>::desc(),
                   std::any(Orba::Ptr<Orba::Node>(const_cast<std::remove_const_t<E>*>(v.get()))));
    } else {
      return Value(&TypeOf<T>::desc(), std::any(std::move(v)));
    }
  }

  static Value of(char const* s) { return of(std::string(s)); }

  bool empty() const noexcept { return type_ == nullptr; }
  TypeDesc const* type() const noexcept { return type_; }
  std::any const& raw() const noexcept { return v_; }

  // The value as T; throws Kiv::AttributeError naming both types when it is
  // not one.
  template <class T>
  T as() const;

  // Text form through the type's printer; "<none>" for an empty value.
  std::string text() const;
  bool operator==(Value const& o) const;

 private:
  template <class T>
  struct IsPtr : std::false_type {};
  template <class E>
  struct IsPtr<Orba::Ptr<E>> : std::true_type {
    using element = E;
  };

  TypeDesc const* type_ = nullptr;
  std::any v_;
};

}  // namespace Kiv
