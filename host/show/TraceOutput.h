// What the host shows: the timeline on stdout, trace output, the status file and status line
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
  // Changes one facility's levels ("*": every facility), as a later word
  // would.
  void maskIs(std::string const& facility, std::uint32_t mask);
  std::string const& text() const noexcept { return text_; }
  // The same levels as a spec for Kiv::TraceHandle::maskSpecIs, where later
  // words win: "*" first, then the named facilities.
  std::string handleSpec() const;

 private:
  std::map<std::string, std::uint32_t, std::less<>> masks_;
  std::string text_;
};

// The message of a trace line: the source prefix ("file:line function: ")
// dropped.
std::string_view traceMessage(std::string_view line);
// A level mask as a spec writes it: "0,1,8", "0-8", or "none".
std::string levelsText(std::uint32_t mask);
// The message with every address ("0x" and eight or more hexadecimal
// digits) replaced by ADDR, as trace expectations match it.
std::string maskAddresses(std::string_view message);

class Timeline;

// Trace lines for the journal (stderr is the journal's stream): no time of
// our own, and each line opened by the priority the journal reads from a
// stream, "<5>" for level 0 (actions and failures), "<6>" for level 1 and
// "<7>" (debug) above.
class JournalTraceSink : public Kiv::TraceSink {
 public:
  void write(Kiv::TraceHandle const& handle, unsigned level, std::string_view line) override;
};

// The scenario runner's trace sink: shows the lines the display spec selects
// on the timeline and, for trace expectations, remembers for each watched
// text when a line last contained it. No line is kept, so a long scenario
// costs no memory for its trace.
class TraceLog : public Kiv::TraceSink {
 public:
  TraceLog(Timeline const& timeline, TraceSpec display);
  void write(Kiv::TraceHandle const& handle, unsigned level, std::string_view line) override;

  // Lines from now on are matched against the text (addresses masked).
  void watch(std::string const& text);
  bool watching() const noexcept { return !lastSeen_.empty(); }
  // Whether a line written at or after `since` contained the text; only
  // lines written while the text was watched count.
  bool contains(std::string const& text, double since) const;

  TraceSpec const& display() const noexcept { return display_; }
  // Shows the facility's lines at these levels from now on.
  void displayIs(std::string const& facility, std::uint32_t mask) {
    display_.maskIs(facility, mask);
  }

 private:
  Timeline const& timeline_;
  TraceSpec display_;
  std::map<std::string, double, std::less<>> lastSeen_;  // -inf: not yet seen
};

}  // namespace Host
