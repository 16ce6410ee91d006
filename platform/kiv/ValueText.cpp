#include "platform/kiv/ValueText.h"

#include <charconv>
#include <cstdio>

#include "platform/kiv/Type.h"

namespace Kiv {

ValueTextWriter::ValueTextWriter(std::string_view typeName) : text_(typeName) {
  text_ += '(';
}

ValueTextWriter& ValueTextWriter::attr(std::string_view name, std::uint64_t value) {
  if (!first_)
    text_ += ", ";
  first_ = false;
  char buf[24];
  int n = std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(value));
  text_.append(name).append("=").append(buf, static_cast<std::size_t>(n));
  return *this;
}

ValueTextReader::ValueTextReader(std::string_view typeName, std::string_view& text)
    : typeName_(typeName), text_(text), whole_(text) {
  expect(typeName);
  expect("(");
}

void ValueTextReader::fail(std::string const& what) const {
  auto at = whole_.size() - text_.size();
  throw AttributeError("malformed " + std::string(typeName_) + " '" + std::string(whole_) +
                       "': expected " + what + " at offset " + std::to_string(at));
}

void ValueTextReader::expect(std::string_view token) {
  while (!text_.empty() && text_.front() == ' ')
    text_.remove_prefix(1);
  if (text_.substr(0, token.size()) != token)
    fail("'" + std::string(token) + "'");
  text_.remove_prefix(token.size());
}

std::uint64_t ValueTextReader::attr(std::string_view name, std::uint64_t max) {
  if (!first_)
    expect(",");
  first_ = false;
  expect(name);
  expect("=");
  while (!text_.empty() && text_.front() == ' ')
    text_.remove_prefix(1);
  int base = 10;
  if (text_.size() > 2 && text_[0] == '0' && (text_[1] == 'x' || text_[1] == 'X')) {
    base = 16;
    text_.remove_prefix(2);
  }
  std::uint64_t v = 0;
  auto [p, ec] = std::from_chars(text_.data(), text_.data() + text_.size(), v, base);
  if (ec != std::errc() || p == text_.data() || v > max) {
    fail("a number up to " + std::to_string(max) + " for " + std::string(name));
  }
  text_.remove_prefix(static_cast<std::size_t>(p - text_.data()));
  return v;
}

void ValueTextReader::end() {
  expect(")");
}

std::uint64_t hashMix(std::uint64_t seed, void const* data, std::size_t size) {
  std::uint64_t h = seed ^ 0xcbf29ce484222325ull;
  auto const* b = static_cast<unsigned char const*>(data);
  for (std::size_t i = 0; i < size; ++i) {
    h ^= b[i];
    h *= 0x100000001b3ull;
  }
  return h;
}

}  // namespace Kiv
