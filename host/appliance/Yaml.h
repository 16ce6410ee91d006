#pragma once

#include <yaml-cpp/yaml.h>

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>

// Reading the host's YAML files (appliance descriptions and scenarios) with
// messages a user can act on: every complaint names the file, the line the
// parser gives for the offending node, and what is wrong.
namespace Host {

// A refused input file. what() is the whole message, "FILE:LINE: text".
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Input files larger than this are refused before they are parsed.
inline constexpr std::size_t kMaxInputFileBytes = 1024 * 1024;

// The document in a file; a missing or empty file, a directory, a FIFO or
// device, a file over kMaxInputFileBytes or a syntax error raises InputError. Nothing
// here blocks.
YAML::Node loadYamlFile(std::string const& path);
// The document in a text (the name stands for the file in messages).
YAML::Node loadYamlText(std::string const& text, std::string const& name);

// A position in an input file, for messages.
struct Where {
  std::string file;
  int line = 0;  // 1-based; 0 when unknown
  std::string text() const;
};
Where where(std::string const& file, YAML::Node const& node);

[[noreturn]] void refuse(Where const& at, std::string const& message);

// An offending value as a message quotes it: whole when short, otherwise its
// first characters and its length, so that a refusal stays a line to read.
std::string clipped(std::string_view value);

// A mapping node whose keys must all be among the allowed ones, each at most
// once. `what` names the mapping in messages ("managementInterfaces[1]").
class MapReader {
 public:
  MapReader(std::string file, YAML::Node node, std::string what,
            std::initializer_list<char const*> allowed);

  bool has(char const* key) const { return static_cast<bool>(node_[key]); }
  // The value of a key that must be present.
  YAML::Node required(char const* key) const;
  YAML::Node optional(char const* key) const { return node_[key]; }

  std::string text(char const* key) const;
  std::string text(char const* key, std::string const& fallback) const;
  std::uint64_t number(char const* key, std::uint64_t min, std::uint64_t max) const;
  std::uint64_t number(char const* key, std::uint64_t min, std::uint64_t max,
                       std::uint64_t fallback) const;
  double seconds(char const* key) const;
  bool flag(char const* key, bool fallback) const;

  std::string const& file() const noexcept { return file_; }
  std::string const& what() const noexcept { return what_; }
  YAML::Node const& node() const noexcept { return node_; }
  Where at() const { return where(file_, node_); }
  Where at(char const* key) const;

 private:
  std::string file_;
  YAML::Node node_;
  std::string what_;
};

// Scalar conversions with the node's line in the message.
std::string scalarText(std::string const& file, YAML::Node const& n, std::string const& what);
// Decimal or 0x-prefixed hexadecimal, within [min, max].
std::uint64_t scalarNumber(std::string const& file, YAML::Node const& n, std::string const& what,
                           std::uint64_t min, std::uint64_t max);
double scalarSeconds(std::string const& file, YAML::Node const& n, std::string const& what);
bool scalarFlag(std::string const& file, YAML::Node const& n, std::string const& what);

}  // namespace Host
