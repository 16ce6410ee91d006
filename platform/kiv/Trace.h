#pragma once

#include <cstdint>
#include <ios>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace Kiv {

// One trace facility. Created on first use and kept for the life of the
// process; level N is on when bit N of the mask is set. Masks are set by the
// host (TraceHandle::maskSpecIs), never by the agent.
class TraceHandle {
 public:
  explicit TraceHandle(std::string name, bool enabledByDefault = false);
  ~TraceHandle();
  TraceHandle(TraceHandle const&) = delete;
  TraceHandle& operator=(TraceHandle const&) = delete;

  std::string const& name() const noexcept { return name_; }
  bool enabled(unsigned level) const noexcept { return level < 32 && ((mask_ >> level) & 1u); }
  std::uint32_t mask() const noexcept { return mask_; }
  void maskIs(std::uint32_t m) noexcept { mask_ = m; }

  // The handle named so, if one exists.
  static TraceHandle* handle(std::string_view name);
  // Applies a spec such as "Bcm53134Agent/0,1,8 CpuIfMgr/0-8" ("*" names
  // every facility; later words win). Facilities not yet created take their
  // levels when they are. A bad spec changes nothing and throws
  // std::invalid_argument with the offending word.
  static void maskSpecIs(std::string_view spec);
  // The facilities and masks a spec names, in order; throws
  // std::invalid_argument with the offending word.
  static std::vector<std::pair<std::string, std::uint32_t>> parseSpec(std::string_view spec);
  // Parses "0,1,8" or "0-8" or "none" into a mask.
  static std::uint32_t parseLevels(std::string_view levels);
  static std::vector<TraceHandle*> handles();

 private:
  std::string name_;
  std::uint32_t mask_ = 0;
};

// Where finished trace lines go. The host chooses one; tests capture.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void write(TraceHandle const& handle, unsigned level, std::string_view line) = 0;
};

// Lines to stderr, each opened by the platform clock's time.
class StderrTraceSink : public TraceSink {
 public:
  void write(TraceHandle const& handle, unsigned level, std::string_view line) override;
};

// Lines kept in memory, for tests.
class CaptureTraceSink : public TraceSink {
 public:
  void write(TraceHandle const& handle, unsigned level, std::string_view line) override;
  std::vector<std::string> lines;
  // Lines with the source prefix removed and every hexadecimal address
  // ("0x" and eight or more digits) replaced by "ADDR".
  std::vector<std::string> messages() const;
  void clear() { lines.clear(); }
};

// Lines thrown away (benchmarks measure formatting cost with it).
class DiscardTraceSink : public TraceSink {
 public:
  void write(TraceHandle const&, unsigned, std::string_view) override {}
};

// Replaces the process sink; returns the previous one. Null restores stderr.
TraceSink* traceSinkIs(TraceSink* sink);

// Opens one trace line: "file:line function: " followed by what is streamed
// in. Within the line, once a number has been printed right after a literal
// "0x", every later number is printed in lower-case hexadecimal without
// leading zeros. A pointer (the tracing object's address) is printed as a
// stream prints it and does not switch the line to hexadecimal.
class TraceHelper {
 public:
  TraceHelper(TraceHandle const& handle, unsigned level, char const* file, int line,
              char const* function);
  ~TraceHelper();
  TraceHelper(TraceHelper const&) = delete;
  TraceHelper& operator=(TraceHelper const&) = delete;

  TraceHelper& operator<<(std::string_view s);
  TraceHelper& operator<<(char const* s) { return *this << std::string_view(s); }
  TraceHelper& operator<<(std::string const& s) { return *this << std::string_view(s); }
  TraceHelper& operator<<(char c) { return *this << std::string_view(&c, 1); }
  TraceHelper& operator<<(bool b) { return *this << (b ? "true" : "false"); }
  TraceHelper& operator<<(double d);
  TraceHelper& operator<<(void const* p);
  // std::hex switches the rest of the line to hexadecimal, std::dec back;
  // other manipulators are ignored.
  TraceHelper& operator<<(std::ios_base& (*manip)(std::ios_base&));

  template <class T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool> &&
           !std::is_same_v<T, char>) TraceHelper&
  operator<<(T v) {
    if constexpr (std::is_signed_v<T>) {
      if (v < 0)
        return number(static_cast<std::uint64_t>(-static_cast<std::int64_t>(v)), true);
    }
    return number(static_cast<std::uint64_t>(v), false);
  }

  template <class T>
  requires(std::is_enum_v<T>) TraceHelper& operator<<(T v) {
    std::ostringstream os;
    os << v;
    return *this << os.str();
  }

  // Anything else with a stream operator is streamed as text.
  template <class T>
  requires(!std::is_arithmetic_v<T> && !std::is_enum_v<T> && !std::is_pointer_v<T> &&
           !std::is_convertible_v<T const&, std::string_view>) TraceHelper&
  operator<<(T const& v) {
    std::ostringstream os;
    os << v;
    return *this << os.str();
  }

  std::string const& text() const noexcept { return *line_; }

 private:
  TraceHelper& number(std::uint64_t v, bool negative);

  TraceHandle const& handle_;
  unsigned level_;
  std::string* line_;  // the shared line buffer, or own_ when it is in use
  std::string own_;
  bool hex_ = false;
};

// printf-style formatting for a trace line:
//   KIV_TRACE(th, 8) << this << "::dump" << _fmt(": %-8s %04x", name, value);
[[gnu::format(printf, 1, 2)]] std::string _fmt(char const* format, ...);

}  // namespace Kiv

// Writes one trace line at a level, building it only when the level is on:
//   KIV_TRACE(th, 1) << this << "::start" << ": state " << state_;
#define KIV_TRACE(handle, level) KIV_TRACE_OP(handle, level, __func__)

// The same for a line that a helper writes on behalf of an operation: the
// source prefix names that operation, as the line's text does.
//   KIV_TRACE_OP(th, 1, "readRegVals") << this << "::readRegVals" << ": XID " << xid;
#define KIV_TRACE_OP(handle, level, operation) \
  if (!(handle).enabled(level)) {              \
  } else                                       \
    ::Kiv::TraceHelper((handle), (level), __FILE__, __LINE__, (operation))
