#include "platform/kiv/Type.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace Kiv {

namespace {

// Unsigned numbers are accepted in decimal or with a 0x prefix in hexadecimal.
template <class T>
T parseUnsigned(std::string_view s, char const* type) {
  std::uint64_t v = 0;
  int base = 10;
  std::string_view digits = s;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, base);
  if (digits.empty() || ec != std::errc() || p != digits.data() + digits.size() ||
      v > std::numeric_limits<T>::max()) {
    throw AttributeError("'" + std::string(s) + "' is not a valid " + type);
  }
  return static_cast<T>(v);
}

template <class T>
T parseSigned(std::string_view s, char const* type) {
  std::int64_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size() ||
      v > std::numeric_limits<T>::max() || v < std::numeric_limits<T>::min()) {
    throw AttributeError("'" + std::string(s) + "' is not a valid " + type);
  }
  return static_cast<T>(v);
}

template <class T>
TypeDesc unsignedType(char const* name) {
  return valueType<T>(
      name, [](T const& v) { return std::to_string(static_cast<std::uint64_t>(v)); },
      [name](std::string_view s) { return parseUnsigned<T>(s, name); }, TypeKind::primitive);
}

template <class T>
TypeDesc signedType(char const* name) {
  return valueType<T>(
      name, [](T const& v) { return std::to_string(static_cast<std::int64_t>(v)); },
      [name](std::string_view s) { return parseSigned<T>(s, name); }, TypeKind::primitive);
}

}  // namespace

TypeDesc const& TypeOf<bool>::desc() {
  static TypeDesc const d = valueType<bool>(
      "bool", [](bool const& b) { return std::string(b ? "true" : "false"); },
      [](std::string_view s) {
        if (s == "true" || s == "1")
          return true;
        if (s == "false" || s == "0")
          return false;
        throw AttributeError("'" + std::string(s) + "' is not a valid bool (true or false)");
      },
      TypeKind::primitive);
  return d;
}

TypeDesc const& TypeOf<std::uint8_t>::desc() {
  static TypeDesc const d = unsignedType<std::uint8_t>("U8");
  return d;
}
TypeDesc const& TypeOf<std::uint16_t>::desc() {
  static TypeDesc const d = unsignedType<std::uint16_t>("U16");
  return d;
}
TypeDesc const& TypeOf<std::uint32_t>::desc() {
  static TypeDesc const d = unsignedType<std::uint32_t>("U32");
  return d;
}
TypeDesc const& TypeOf<std::uint64_t>::desc() {
  static TypeDesc const d = unsignedType<std::uint64_t>("U64");
  return d;
}
TypeDesc const& TypeOf<std::int32_t>::desc() {
  static TypeDesc const d = signedType<std::int32_t>("I32");
  return d;
}
TypeDesc const& TypeOf<std::int64_t>::desc() {
  static TypeDesc const d = signedType<std::int64_t>("I64");
  return d;
}

// Seconds print in the shortest form that reads back as the same number, and
// only finite numbers are accepted (a NaN or infinite period would stall the
// clock).
TypeDesc const& TypeOf<double>::desc() {
  static TypeDesc const d = valueType<double>(
      "Kiv::Seconds",
      [](double const& v) {
        char buf[32];
        auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
        return std::string(buf, p);
      },
      [](std::string_view s) {
        double v = 0;
        auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
        if (s.empty() || ec != std::errc() || p != s.data() + s.size() || !std::isfinite(v)) {
          throw AttributeError("'" + std::string(s) + "' is not a valid number of seconds");
        }
        return v;
      },
      TypeKind::primitive);
  return d;
}

TypeDesc const& TypeOf<std::string>::desc() {
  static TypeDesc const d = valueType<std::string>(
      "Orba::String", [](std::string const& s) { return s; },
      [](std::string_view s) { return std::string(s); }, TypeKind::primitive);
  return d;
}

}  // namespace Kiv
