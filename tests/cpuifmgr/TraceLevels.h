#pragma once

#include <string>
#include <vector>

#include "platform/kiv/Trace.h"
#include "tests/support/Loop.h"

namespace CpuIfMgrTest {

// Captures the CpuIfMgr facility at levels 0 to 8 and keeps each line's
// level: leveled() gives "L<level> <message>" with addresses masked.
class LeveledTrace {
 public:
  LeveledTrace() : previous_(Kiv::traceSinkIs(&sink_)) {}
  ~LeveledTrace() { Kiv::traceSinkIs(previous_); }

  std::vector<std::string> leveled() const {
    std::vector<std::string> r;
    auto const msgs = sink_.messages();
    for (std::size_t i = 0; i < msgs.size(); ++i) {
      r.push_back("L" + std::to_string(sink_.levels[i]) + " " + msgs[i]);
    }
    return r;
  }
  // The raw lines, addresses unmasked.
  std::vector<std::string> const& lines() const { return sink_.lines; }
  void clear() {
    sink_.clear();
    sink_.levels.clear();
  }

 private:
  struct Sink : Kiv::CaptureTraceSink {
    void write(Kiv::TraceHandle const& h, unsigned level, std::string_view line) override {
      levels.push_back(level);
      CaptureTraceSink::write(h, level, line);
    }
    std::vector<unsigned> levels;
  };
  TestSupport::TraceCapture masks_{"CpuIfMgr/0-8"};
  Sink sink_;
  Kiv::TraceSink* previous_;
};

}  // namespace CpuIfMgrTest
