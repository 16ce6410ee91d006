#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kiv/Trace.h"

namespace Host {

// Which levels of which facilities to show, as "Bcm53134Agent/0,1 CpuIfMgr/0-8"
// ("*" stands for every facility not named).
class TraceSpec {
 public:
  // Throws std::invalid_argument naming the offending word.
  static TraceSpec parse(std::string_view spec);
  std::uint32_t mask(std::string const& facility) const;
  std::string const& text() const noexcept { return text_; }

 private:
  std::map<std::string, std::uint32_t, std::less<>> masks_;
  std::string text_;
};

// The message of a trace line: the source prefix ("file:line function: ")
// dropped.
std::string_view traceMessage(std::string_view line);
// The message with every address ("0x" and eight or more hexadecimal
// digits) replaced by ADDR, as trace expectations match it.
std::string maskAddresses(std::string_view message);

class Timeline;

// The scenario runner's trace sink: keeps every line with its time for trace
// expectations and shows the ones the display spec selects on the timeline.
class TraceLog : public Kiv::TraceSink {
 public:
  TraceLog(Timeline const& timeline, TraceSpec display);
  void write(Kiv::TraceHandle const& handle, unsigned level, std::string_view line) override;

  struct Line {
    double time;
    std::string facility;
    unsigned level;
    std::string masked;
  };
  std::vector<Line> const& lines() const noexcept { return lines_; }
  // Whether a line at or after `since` contains the text (addresses masked).
  bool contains(std::string const& text, double since) const;

 private:
  Timeline const& timeline_;
  TraceSpec display_;
  std::vector<Line> lines_;
};

}  // namespace Host
