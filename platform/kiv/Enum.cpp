#include "platform/kiv/Enum.h"

#include <charconv>

namespace Kiv {

char const* EnumNames::name(std::uint8_t v) const {
  for (auto const& [value, n] : names) {
    if (value == v)
      return n;
  }
  return nullptr;
}

std::optional<std::uint8_t> EnumNames::value(std::string_view text) const {
  for (auto const& [value, n] : names) {
    if (text == n)
      return value;
  }
  unsigned v = 0;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (!text.empty() && ec == std::errc() && p == text.data() + text.size() && v <= 255) {
    return static_cast<std::uint8_t>(v);
  }
  return std::nullopt;
}

std::uint8_t EnumNames::checked(std::uint8_t v) const {
  if (!name(v))
    refuse(std::to_string(v));
  return v;
}

std::uint8_t EnumNames::parse(std::string_view text) const {
  if (auto v = value(text))
    return *v;
  refuse(text);
}

void EnumNames::refuse(std::string_view text) const {
  std::string accepted;
  for (auto const& [value, n] : names)
    accepted += (accepted.empty() ? "" : ", ") + std::string(n);
  throw AttributeError("'" + std::string(text) + "' is not a " + typeName + " (one of " + accepted +
                       ")");
}

}  // namespace Kiv
