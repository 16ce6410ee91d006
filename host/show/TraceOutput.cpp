#include "host/show/TraceOutput.h"

#include <systemd/sd-daemon.h>

#include <cctype>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "host/show/Timeline.h"
#include "platform/kiv/Clock.h"

namespace Host {

TraceSpec TraceSpec::parse(std::string_view spec) {
  TraceSpec r;
  r.text_ = std::string(spec);
  for (auto& [facility, mask] : Kiv::TraceHandle::parseSpec(spec))
    r.masks_[facility] = mask;
  return r;
}

std::uint32_t TraceSpec::mask(std::string const& facility) const {
  if (auto it = masks_.find(facility); it != masks_.end())
    return it->second;
  if (auto it = masks_.find("*"); it != masks_.end())
    return it->second;
  return 0;
}

void TraceSpec::maskIs(std::string const& facility, std::uint32_t mask) {
  if (facility == "*")
    masks_.clear();
  masks_[facility] = mask;
  text_ = handleSpec();
}

std::string TraceSpec::handleSpec() const {
  std::string r = "*/" + levelsText(mask("*"));
  for (auto const& [facility, m] : masks_) {
    if (facility != "*")
      r += " " + facility + "/" + levelsText(m);
  }
  return r;
}

void JournalTraceSink::write(Kiv::TraceHandle const&, unsigned level, std::string_view line) {
  if (level == 0) {
    std::string const text(line);
    if (sentToJournal("trace", text, text))
      return;
  }
  char const* priority = level == 0 ? SD_NOTICE : level == 1 ? SD_INFO : SD_DEBUG;
  std::fprintf(stderr, "%s%.*s\n", priority, static_cast<int>(line.size()), line.data());
}

std::string levelsText(std::uint32_t mask) {
  std::string r;
  for (unsigned l = 0; l < 32;) {
    if (!((mask >> l) & 1u)) {
      ++l;
      continue;
    }
    unsigned hi = l;
    while (hi + 1 < 32 && ((mask >> (hi + 1)) & 1u))
      ++hi;
    r += (r.empty() ? "" : ",") + std::to_string(l);
    if (hi >= l + 2)
      r += "-" + std::to_string(hi);
    else if (hi == l + 1)
      r += "," + std::to_string(hi);
    l = hi + 1;
  }
  return r.empty() ? "none" : r;
}

std::string_view traceMessage(std::string_view line) {
  auto pos = line.find(": ");
  return pos == std::string_view::npos ? line : line.substr(pos + 2);
}

std::string maskAddresses(std::string_view m) {
  std::string r;
  r.reserve(m.size());
  for (std::size_t i = 0; i < m.size();) {
    if (m[i] == '0' && i + 1 < m.size() && m[i + 1] == 'x') {
      std::size_t j = i + 2;
      while (j < m.size() && std::isxdigit(static_cast<unsigned char>(m[j])) &&
             !std::isupper(static_cast<unsigned char>(m[j])))
        ++j;
      if (j - (i + 2) >= 8) {
        r += "ADDR";
        i = j;
        continue;
      }
    }
    r += m[i++];
  }
  return r;
}

TraceLog::TraceLog(Timeline const& timeline, TraceSpec display)
    : timeline_(timeline), display_(std::move(display)) {}

void TraceLog::write(Kiv::TraceHandle const& handle, unsigned level, std::string_view line) {
  auto msg = traceMessage(line);
  if (!lastSeen_.empty()) {
    auto masked = maskAddresses(msg);
    for (auto& [text, when] : lastSeen_) {
      if (masked.find(text) != std::string::npos)
        when = Kiv::System::currentTime();
    }
  }
  if (level < 32 && ((display_.mask(handle.name()) >> level) & 1u))
    timeline_.line("trace", handle.name() + "/" + std::to_string(level) + " " + std::string(msg));
}

void TraceLog::watch(std::string const& text) {
  lastSeen_.try_emplace(text, -std::numeric_limits<double>::infinity());
}

// Lines arrive in time order, so the last one that contained the text tells
// whether any did since a time.
bool TraceLog::contains(std::string const& text, double since) const {
  auto it = lastSeen_.find(text);
  return it != lastSeen_.end() && it->second >= since;
}

}  // namespace Host
