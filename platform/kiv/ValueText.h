#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The framework's standard text form of a value type with attributes:
//   TypeName(attr1=value1, attr2=value2)
// Unsigned numbers are written in hexadecimal with a 0x prefix and read in
// hexadecimal (0x prefix) or decimal. Writer and reader round-trip.
namespace Kiv {

class ValueTextWriter {
 public:
  explicit ValueTextWriter(std::string_view typeName);
  ValueTextWriter& attr(std::string_view name, std::uint64_t value);
  std::string str() const { return text_ + ")"; }

 private:
  std::string text_;
  bool first_ = true;
};

// Reads one value from the front of a text range; every mismatch raises
// Kiv::AttributeError naming the type, what was expected and where.
class ValueTextReader {
 public:
  ValueTextReader(std::string_view typeName, std::string_view& text);
  // The next attribute, which must carry this name.
  std::uint64_t attr(std::string_view name, std::uint64_t max);
  // The closing parenthesis; the range then starts after the value.
  void end();

 private:
  [[noreturn]] void fail(std::string const& what) const;
  void expect(std::string_view token);
  std::string_view typeName_;
  std::string_view& text_;
  std::string_view whole_;
  bool first_ = true;
};

// The framework's hash mixer (64-bit FNV-1a over the bytes given).
std::uint64_t hashMix(std::uint64_t seed, void const* data, std::size_t size);

}  // namespace Kiv
