#pragma once

#include <cstdint>
#include <string_view>

#include "platform/kiv/Trace.h"

namespace Bench {

// A discarding trace sink that counts the lines it was handed.
class CountingSink : public Kiv::TraceSink {
 public:
  void write(Kiv::TraceHandle const&, unsigned, std::string_view) override { ++lines; }
  std::uint64_t lines = 0;
};

// Installs a counting sink and the given facility levels for its lifetime
// (null: every facility off); afterwards every facility is off and the
// previous sink is back.
class TraceScope {
 public:
  explicit TraceScope(char const* spec);
  ~TraceScope();
  TraceScope(TraceScope const&) = delete;
  TraceScope& operator=(TraceScope const&) = delete;
  CountingSink sink;

 private:
  Kiv::TraceSink* previous_;
};

// The agent's facilities at levels 0 and 1.
inline constexpr char const* kAgentLevels01 = "Bcm53134Agent/0,1 CpuIfMgr/0,1";

}  // namespace Bench
