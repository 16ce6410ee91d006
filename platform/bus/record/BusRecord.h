#pragma once

#include <cstdint>
#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/bus/Bus.h"

namespace Hardware::Mdio::Record {

// A bus record is JSON Lines: one first line describing the run, one line per
// access, and one end line. The first line's own members:
//   {"record": "agenthost bus record", "format": 1, "start": ISO 8601 UTC,
//    "from": "start" | "running", "transport": TEXT, "accessTime": SECONDS, ...}
// ("from": whether the record began with the agent or on a running one);
// whoever starts the record adds members of its own (the host adds the
// appliance). Each access:
//   {"t": SECONDS, "phy": N, "reg": N, "op": "read" | "write", "value": N
//    [, "error": TEXT]}
// "t" is the time since the record began, "value" the value read (0 when the
// read failed) or written. The end line:
//   {"t": SECONDS, "end": "stopped" | "sizeLimit" | "reload" [, "limit": BYTES]}
// ("reload": the appliance was reloaded with changes there, and the run
// went on under another configuration than the first line's);
// (a record whose file could not be written, or whose writer died, has no
// end line, and may end in the middle of a line: it is cut short, and reads
// up to its last whole line, with `cut` saying where).
inline constexpr char const* kMagic = "agenthost bus record";
inline constexpr int kFormat = 1;

struct Access {
  std::size_t line = 0;
  double t = 0;
  PortAddr phy = 0;
  std::uint8_t reg = 0;
  bool write = false;
  std::uint16_t value = 0;
  std::string error;
};

// A value as a record writes it, on one line: text that is not UTF-8 (a
// path, an error text from elsewhere) has its bad bytes replaced (U+FFFD),
// so that every record is valid UTF-8.
std::string jsonText(nlohmann::ordered_json const& j);

// "read of PHY 1 register 0x01" or "write of 0x0004 to PHY 1 register 0x18".
std::string accessText(bool write, PortAddr phy, std::uint8_t reg, std::uint16_t value);

struct BusRecord {
  std::string name;    // the file, for messages
  std::string header;  // the first line as written
  std::string transport;
  bool fromStart = true;
  double accessTime = Bus::kFrameTime;
  std::vector<Access> accesses;
  double end = 0;         // the time of the end line
  std::string endReason;  // "stopped", "sizeLimit", "reload", or "cut" (no end line)
  std::size_t endLine = 0;
  // For a record without an end line: where it stops and what was left out.
  std::string cut;
  // The record stops short of the run (its size limit, a reload, a full
  // disk, a crash): the run went on past it, unrecorded.
  bool cutShort() const { return endReason != "stopped"; }
};

// A record refused: the line (1-based; 0 for the file as a whole) and why.
class RecordError : public std::runtime_error {
 public:
  RecordError(std::string const& name, std::size_t line, std::string const& reason);
  std::size_t line() const noexcept { return line_; }
  std::string const& reason() const noexcept { return reason_; }

 private:
  std::size_t line_;
  std::string reason_;
};

// The longest line a record may have (its first line holds the appliance).
inline constexpr std::size_t kMaxLine = 1 << 20;
// The most accesses a record may have (a day of polling is well under it).
inline constexpr std::size_t kMaxAccesses = 50'000'000;

// Reads and checks a whole record; throws RecordError on a reordered,
// foreign or damaged one. A record without an end line is read up to its
// last whole line (`cut` says so).
BusRecord readBusRecord(std::istream& in, std::string const& name);

}  // namespace Hardware::Mdio::Record
