#include "host/TraceOutput.h"

#include <cctype>
#include <stdexcept>

#include "host/Session.h"
#include "platform/kiv/Clock.h"

namespace Host {

TraceSpec TraceSpec::parse(std::string_view spec) {
  TraceSpec r;
  r.text_ = std::string(spec);
  while (!spec.empty()) {
    auto sp = spec.find_first_of(" \t");
    auto word = spec.substr(0, sp);
    spec = sp == std::string_view::npos ? std::string_view() : spec.substr(sp + 1);
    if (word.empty())
      continue;
    auto slash = word.find('/');
    if (slash == std::string_view::npos || slash == 0) {
      throw std::invalid_argument("bad trace spec '" + std::string(word) +
                                  "' (expected FACILITY/LEVELS, e.g. Bcm53134Agent/0,1)");
    }
    r.masks_[std::string(word.substr(0, slash))] =
        Kiv::TraceHandle::parseLevels(word.substr(slash + 1));
  }
  return r;
}

std::uint32_t TraceSpec::mask(std::string const& facility) const {
  if (auto it = masks_.find(facility); it != masks_.end())
    return it->second;
  if (auto it = masks_.find("*"); it != masks_.end())
    return it->second;
  return 0;
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
  lines_.push_back({Kiv::System::currentTime(), handle.name(), level, maskAddresses(msg)});
  if (level < 32 && ((display_.mask(handle.name()) >> level) & 1u))
    timeline_.line("trace", handle.name() + "/" + std::to_string(level) + " " + std::string(msg));
}

bool TraceLog::contains(std::string const& text, double since) const {
  for (auto const& l : lines_) {
    if (l.time >= since && l.masked.find(text) != std::string::npos)
      return true;
  }
  return false;
}

}  // namespace Host
