#include "host/appliance/Yaml.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace Host {

namespace {

InputError parserError(std::string const& name, YAML::Exception const& e) {
  std::string msg = name;
  if (!e.mark.is_null())
    msg += ":" + std::to_string(e.mark.line + 1);
  msg += ": YAML syntax error: " + e.msg;
  return InputError(msg);
}

std::string kindOf(YAML::Node const& n) {
  switch (n.Type()) {
    case YAML::NodeType::Map:
      return "a mapping";
    case YAML::NodeType::Sequence:
      return "a list";
    case YAML::NodeType::Null:
      return "nothing";
    case YAML::NodeType::Scalar:
      return "'" + clipped(n.Scalar()) + "'";
    default:
      return "nothing";
  }
}

}  // namespace

std::string Where::text() const {
  return line > 0 ? file + ":" + std::to_string(line) : file;
}

Where where(std::string const& file, YAML::Node const& node) {
  if (!node)
    return {file, 0};
  auto m = node.Mark();
  return {file, m.is_null() ? 0 : m.line + 1};
}

void refuse(Where const& at, std::string const& message) {
  throw InputError(at.text() + ": " + message);
}

std::string clipped(std::string_view value) {
  constexpr std::size_t kShown = 72, kWhole = 80;
  if (value.size() <= kWhole)
    return std::string(value);
  return std::string(value.substr(0, kShown)) + "... (" + std::to_string(value.size()) +
         " characters)";
}

namespace {

// Opened without blocking: a FIFO without a writer must not hold the host.
class InputFile {
 public:
  explicit InputFile(std::string const& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {}
  ~InputFile() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  InputFile(InputFile const&) = delete;
  InputFile& operator=(InputFile const&) = delete;
  int fd() const noexcept { return fd_; }

 private:
  int fd_;
};

std::string const limitText = std::to_string(kMaxInputFileBytes) + " bytes (1 MiB)";

}  // namespace

YAML::Node loadYamlFile(std::string const& path) {
  InputFile in(path);
  if (in.fd() < 0)
    throw InputError(path + ": cannot open: " + std::strerror(errno));
  struct stat st {};
  if (::fstat(in.fd(), &st) != 0)
    throw InputError(path + ": cannot read: " + std::strerror(errno));
  if (S_ISDIR(st.st_mode))
    throw InputError(path + ": is a directory; give a file");
  if (!S_ISREG(st.st_mode))
    throw InputError(path + ": is not a regular file (a FIFO, socket or device); give a file");
  if (static_cast<std::uintmax_t>(st.st_size) > kMaxInputFileBytes) {
    throw InputError(path + ": is " + std::to_string(st.st_size) +
                     " bytes long; an input file has at most " + limitText);
  }
  std::string text;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(in.fd(), buf, sizeof buf);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      throw InputError(path + ": cannot read: " + std::strerror(errno));
    if (n == 0)
      break;
    text.append(buf, static_cast<std::size_t>(n));
    if (text.size() > kMaxInputFileBytes)  // it grew while being read
      throw InputError(path + ": is longer than " + limitText + ", the most an input file has");
  }
  auto doc = loadYamlText(text, path);
  if (!doc || doc.IsNull())
    throw InputError(path + ": the file is empty");
  return doc;
}

YAML::Node loadYamlText(std::string const& text, std::string const& name) {
  try {
    return YAML::Load(text);
  } catch (YAML::Exception const& e) {
    throw parserError(name, e);
  }
}

MapReader::MapReader(std::string file, YAML::Node node, std::string what,
                     std::initializer_list<char const*> allowed)
    : file_(std::move(file)), node_(std::move(node)), what_(std::move(what)) {
  if (!node_.IsMap())
    refuse(at(), what_ + " must be a mapping, not " + kindOf(node_));
  std::set<std::string> seen;
  for (auto const& kv : node_) {
    YAML::Node keyNode = kv.first;
    std::string key = keyNode.IsScalar() ? keyNode.Scalar() : std::string("?");
    bool known = false;
    for (auto const* a : allowed)
      known = known || key == a;
    if (!known) {
      std::string list;
      for (auto const* a : allowed)
        list += std::string(list.empty() ? "" : ", ") + a;
      refuse(where(file_, keyNode),
             "unknown key '" + clipped(key) + "' in " + what_ + " (known keys: " + list + ")");
    }
    if (!seen.insert(key).second)
      refuse(where(file_, keyNode), "key '" + clipped(key) + "' given twice in " + what_);
  }
}

Where MapReader::at(char const* key) const {
  for (auto const& kv : node_) {
    if (kv.first.IsScalar() && kv.first.Scalar() == key)
      return where(file_, kv.first);
  }
  return at();
}

YAML::Node MapReader::required(char const* key) const {
  auto n = node_[key];
  if (!n)
    refuse(at(), what_ + " lacks the required key '" + clipped(key) + "'");
  return n;
}

std::string MapReader::text(char const* key) const {
  return scalarText(file_, required(key), what_ + "." + key);
}

std::string MapReader::text(char const* key, std::string const& fallback) const {
  return has(key) ? text(key) : fallback;
}

std::uint64_t MapReader::number(char const* key, std::uint64_t min, std::uint64_t max) const {
  return scalarNumber(file_, required(key), what_ + "." + key, min, max);
}

std::uint64_t MapReader::number(char const* key, std::uint64_t min, std::uint64_t max,
                                std::uint64_t fallback) const {
  return has(key) ? number(key, min, max) : fallback;
}

double MapReader::seconds(char const* key) const {
  return scalarSeconds(file_, required(key), what_ + "." + key);
}

bool MapReader::flag(char const* key, bool fallback) const {
  return has(key) ? scalarFlag(file_, node_[key], what_ + "." + key) : fallback;
}

std::string scalarText(std::string const& file, YAML::Node const& n, std::string const& what) {
  if (!n.IsScalar())
    refuse(where(file, n), what + " must be a single value, not " + kindOf(n));
  return n.Scalar();
}

std::uint64_t scalarNumber(std::string const& file, YAML::Node const& n, std::string const& what,
                           std::uint64_t min, std::uint64_t max) {
  std::string s = scalarText(file, n, what);
  errno = 0;
  char* end = nullptr;
  bool ok = !s.empty() && s[0] != '-' && s[0] != '+' && s[0] != ' ';
  unsigned long long v = ok ? std::strtoull(s.c_str(), &end, 0) : 0;
  ok = ok && errno == 0 && end == s.c_str() + s.size();
  if (!ok)
    refuse(where(file, n), what + " must be a number, not '" + clipped(s) + "'");
  if (v < min || v > max) {
    refuse(where(file, n), what + " " + clipped(s) + " is out of range (" + std::to_string(min) +
                               " to " + std::to_string(max) + ")");
  }
  return v;
}

double scalarSeconds(std::string const& file, YAML::Node const& n, std::string const& what) {
  std::string s = scalarText(file, n, what);
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (s.empty() || end != s.c_str() + s.size() || !std::isfinite(v) || v < 0)
    refuse(where(file, n), what + " must be a number of seconds, not '" + clipped(s) + "'");
  return v;
}

bool scalarFlag(std::string const& file, YAML::Node const& n, std::string const& what) {
  std::string s = scalarText(file, n, what);
  if (s == "true" || s == "yes" || s == "on")
    return true;
  if (s == "false" || s == "no" || s == "off")
    return false;
  refuse(where(file, n), what + " must be true or false, not '" + clipped(s) + "'");
}

}  // namespace Host
