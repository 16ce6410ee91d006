#include "platform/kiv/Trace.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>

#include "platform/kiv/Clock.h"

namespace Kiv {

namespace {

struct Registry {
  std::vector<std::unique_ptr<TraceHandle>> owned;
  std::vector<TraceHandle*> handles;
  // Masks given before their facility existed, and the "*" mask.
  std::map<std::string, std::uint32_t, std::less<>> pending;
};

Registry& registry() {
  static Registry r;
  return r;
}

StderrTraceSink stderrSink;
TraceSink* currentSink = &stderrSink;

std::string lineBuffer;
bool lineBufferInUse = false;

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

unsigned parseLevel(std::string_view s) {
  unsigned v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size() || v > 31) {
    throw std::invalid_argument("bad trace level '" + std::string(s) + "' (0 to 31)");
  }
  return v;
}

}  // namespace

TraceHandle::TraceHandle(std::string name, bool enabledByDefault)
    : name_(std::move(name)), mask_(enabledByDefault ? 0x1u : 0u) {
  auto& r = registry();
  if (auto it = r.pending.find(name_); it != r.pending.end()) {
    mask_ = it->second;
  } else if (auto star = r.pending.find("*"); star != r.pending.end()) {
    mask_ = star->second;
  }
  r.handles.push_back(this);
}

TraceHandle::~TraceHandle() {
  std::erase(registry().handles, this);
}

TraceHandle* TraceHandle::handle(std::string_view name) {
  for (auto* h : registry().handles) {
    if (h->name() == name)
      return h;
  }
  return nullptr;
}

std::vector<TraceHandle*> TraceHandle::handles() {
  return registry().handles;
}

std::uint32_t TraceHandle::parseLevels(std::string_view levels) {
  levels = trimmed(levels);
  if (levels == "none" || levels.empty())
    return 0;
  if (levels == "all")
    return ~0u;
  std::uint32_t mask = 0;
  while (!levels.empty()) {
    auto comma = levels.find(',');
    auto item = trimmed(levels.substr(0, comma));
    levels = comma == std::string_view::npos ? std::string_view() : levels.substr(comma + 1);
    auto dash = item.find('-');
    if (dash == std::string_view::npos) {
      mask |= 1u << parseLevel(item);
    } else {
      unsigned lo = parseLevel(item.substr(0, dash)), hi = parseLevel(item.substr(dash + 1));
      if (lo > hi)
        throw std::invalid_argument("bad trace level range '" + std::string(item) + "'");
      for (unsigned l = lo; l <= hi; ++l)
        mask |= 1u << l;
    }
  }
  return mask;
}

std::vector<std::pair<std::string, std::uint32_t>> TraceHandle::parseSpec(std::string_view spec) {
  std::vector<std::pair<std::string, std::uint32_t>> items;
  while (!spec.empty()) {
    auto sp = spec.find_first_of(" \t");
    auto word = spec.substr(0, sp);
    spec = sp == std::string_view::npos ? std::string_view() : spec.substr(sp + 1);
    if (word.empty())
      continue;
    auto slash = word.find('/');
    if (slash == std::string_view::npos || slash == 0) {
      throw std::invalid_argument("bad trace spec '" + std::string(word) +
                                  "' (expected FACILITY/LEVELS, e.g. Bcm53134Agent/0,1,8)");
    }
    items.emplace_back(std::string(word.substr(0, slash)), parseLevels(word.substr(slash + 1)));
  }
  return items;
}

void TraceHandle::maskSpecIs(std::string_view spec) {
  // Parse everything first so that a bad spec changes nothing.
  auto const items = parseSpec(spec);
  auto& r = registry();
  for (auto const& [name, mask] : items) {
    if (name == "*")
      r.pending.clear();  // it overrides every earlier word
    r.pending[name] = mask;
    for (auto* h : r.handles) {
      if (name == "*" || h->name() == name)
        h->maskIs(mask);
    }
  }
}

void StderrTraceSink::write(TraceHandle const&, unsigned, std::string_view line) {
  std::fprintf(stderr, "%12.6f %.*s\n", System::currentTime(), static_cast<int>(line.size()),
               line.data());
}

void CaptureTraceSink::write(TraceHandle const&, unsigned, std::string_view line) {
  lines.emplace_back(line);
}

std::vector<std::string> CaptureTraceSink::messages() const {
  auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
  std::vector<std::string> r;
  for (auto const& l : lines) {
    // The source prefix ends with the first ": " after "file:line function".
    auto pos = l.find(": ");
    std::string_view msg =
        pos == std::string::npos ? std::string_view(l) : std::string_view(l).substr(pos + 2);
    std::string out;
    while (!msg.empty()) {
      std::size_t digits = 0;
      if (msg.starts_with("0x")) {
        while (2 + digits < msg.size() && isHex(msg[2 + digits]))
          ++digits;
      }
      if (digits >= 8) {
        out += "ADDR";
        msg.remove_prefix(2 + digits);
      } else {
        out += msg.front();
        msg.remove_prefix(1);
      }
    }
    r.push_back(std::move(out));
  }
  return r;
}

TraceSink* traceSinkIs(TraceSink* sink) {
  auto* old = currentSink;
  currentSink = sink ? sink : &stderrSink;
  return old;
}

TraceHelper::TraceHelper(TraceHandle const& handle, unsigned level, char const* file, int line,
                         char const* function)
    : handle_(handle), level_(level) {
  if (lineBufferInUse) {
    line_ = &own_;
  } else {
    lineBufferInUse = true;
    line_ = &lineBuffer;
    line_->clear();
  }
  char const* base = std::strrchr(file, '/');
  line_->append(base ? base + 1 : file);
  char num[16];
  auto [p, ec] = std::to_chars(num, num + sizeof num, line);
  line_->push_back(':');
  line_->append(num, p);
  line_->push_back(' ');
  line_->append(function);
  line_->append(": ");
}

TraceHelper::~TraceHelper() {
  currentSink->write(handle_, level_, *line_);
  if (line_ == &lineBuffer)
    lineBufferInUse = false;
}

TraceHelper& TraceHelper::operator<<(std::string_view s) {
  line_->append(s);
  return *this;
}

TraceHelper& TraceHelper::operator<<(double d) {
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%g", d);
  line_->append(buf, static_cast<std::size_t>(n));
  return *this;
}

TraceHelper& TraceHelper::operator<<(void const* p) {
  char buf[24];
  int n = std::snprintf(buf, sizeof buf, "%p", p);
  line_->append(buf, static_cast<std::size_t>(n));
  return *this;
}

TraceHelper& TraceHelper::operator<<(std::ios_base& (*manip)(std::ios_base&)) {
  if (manip == static_cast<std::ios_base& (*)(std::ios_base&)>(std::hex))
    hex_ = true;
  else if (manip == static_cast<std::ios_base& (*)(std::ios_base&)>(std::dec))
    hex_ = false;
  return *this;
}

TraceHelper& TraceHelper::number(std::uint64_t v, bool negative) {
  auto const& l = *line_;
  if (!hex_ && l.size() >= 2 && l.compare(l.size() - 2, 2, "0x") == 0)
    hex_ = true;
  char buf[24];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v, hex_ ? 16 : 10);
  if (negative)
    line_->push_back('-');
  line_->append(buf, p);
  return *this;
}

std::string _fmt(char const* format, ...) {
  char buf[256];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  if (n < 0)
    return {};
  if (static_cast<std::size_t>(n) < sizeof buf)
    return std::string(buf, static_cast<std::size_t>(n));
  std::string r(static_cast<std::size_t>(n), '\0');
  va_start(args, format);
  std::vsnprintf(r.data(), r.size() + 1, format, args);
  va_end(args);
  return r;
}

}  // namespace Kiv
