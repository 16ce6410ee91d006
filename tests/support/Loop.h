#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/kiv/Clock.h"
#include "platform/kiv/EventLoop.h"
#include "platform/kiv/Trace.h"

namespace TestSupport {

// Drives the process event loop in virtual time. Each test starts from a
// clean loop at time 0 with no armed wake-ups.
inline Kiv::EventLoop& loop() {
  return Kiv::EventLoop::instance();
}
inline Kiv::Seconds now() {
  return loop().now();
}
inline void resetLoop() {
  loop().resetForTest(0);
}
inline std::size_t runUntilIdle() {
  return loop().runUntilIdle();
}
inline std::size_t advance(Kiv::Seconds dt) {
  return loop().advance(dt);
}
inline bool runUntil(std::function<bool()> const& pred, Kiv::Seconds within) {
  return loop().runUntil(pred, now() + within);
}

// A capture sink that also keeps the level of each line.
struct LeveledSink : Kiv::CaptureTraceSink {
  void write(Kiv::TraceHandle const& h, unsigned level, std::string_view line) override {
    levels.push_back(level);
    CaptureTraceSink::write(h, level, line);
  }
  void clear() {
    CaptureTraceSink::clear();
    levels.clear();
  }
  std::vector<unsigned> levels;
};

// Captures every trace line for the life of the object and sets the given
// facility masks; restores the previous sink and masks afterwards.
class TraceCapture {
 public:
  explicit TraceCapture(char const* spec = nullptr);
  ~TraceCapture();
  LeveledSink sink;
  // Messages (source prefix dropped, addresses masked) containing text.
  std::vector<std::string> matching(std::string const& text) const;
  bool has(std::string const& message) const;
  // Every message as "L<level> <message>".
  std::vector<std::string> leveled() const;
  // The raw lines, addresses unmasked.
  std::vector<std::string> const& lines() const { return sink.lines; }
  void clear() { sink.clear(); }

 private:
  Kiv::TraceSink* previous_;
  std::vector<std::pair<Kiv::TraceHandle*, std::uint32_t>> masks_;
};

}  // namespace TestSupport
