#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/kiv/Type.h"

namespace Kiv {

// The names of a one-byte enumeration, in value order. Every enumeration's
// standard helpers (value from number or name, stringValue, streaming,
// parsing) are built on one of these tables.
struct EnumNames {
  std::string typeName;
  std::vector<std::pair<std::uint8_t, char const*>> names;

  // The name of a value, or nullptr for a value without one.
  char const* name(std::uint8_t v) const;
  // The value of a name or of a decimal number; nullopt when neither.
  std::optional<std::uint8_t> value(std::string_view text) const;
  // As value(), but a text that is neither raises AttributeError naming the
  // type and the accepted names.
  std::uint8_t parse(std::string_view text) const;
  // v itself when it has a name; otherwise raises the same AttributeError.
  // For enumerations whose every value must be named, such as a state.
  std::uint8_t checked(std::uint8_t v) const;
  [[noreturn]] void refuse(std::string_view text) const;
};

// The descriptor of an enumeration type E (an enum class over uint8_t). The
// descriptor keeps its own copy of the names.
template <class E>
TypeDesc enumType(EnumNames const& names) {
  return valueType<E>(
      names.typeName,
      [names](E const& e) {
        auto const* n = names.name(static_cast<std::uint8_t>(e));
        return n ? std::string(n) : std::to_string(static_cast<unsigned>(e));
      },
      [names](std::string_view s) { return static_cast<E>(names.parse(s)); },
      TypeKind::enumeration);
}

}  // namespace Kiv
