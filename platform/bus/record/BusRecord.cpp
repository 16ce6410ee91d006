#include "platform/bus/record/BusRecord.h"

#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace Hardware::Mdio::Record {

namespace {

using Json = nlohmann::json;

// Deeper nesting than a record ever has is refused before parsing, so that
// no input makes the parser or the value's teardown recurse deeply.
bool nestedTooDeep(std::string const& s, int limit) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      if (++depth > limit)
        return true;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return false;
}

class Reader {
 public:
  Reader(std::string const& name, std::size_t line) : name_(name), line_(line) {}
  [[noreturn]] void refuse(std::string const& why) const { throw RecordError(name_, line_, why); }

  Json parse(std::string const& text, int depth) const {
    if (nestedTooDeep(text, depth))
      refuse("nested deeper than a record line is");
    Json j = Json::parse(text, nullptr, false);
    if (j.is_discarded())
      refuse("not a JSON object (a line cut short, or not a record)");
    if (!j.is_object())
      refuse("not a JSON object");
    return j;
  }
  double number(Json const& j, char const* key, double min, double max) const {
    auto it = j.find(key);
    if (it == j.end())
      refuse(std::string("no \"") + key + "\"");
    if (!it->is_number())
      refuse(std::string("\"") + key + "\" is not a number");
    double v = it->get<double>();
    if (!std::isfinite(v) || v < min || v > max) {
      char buf[96];
      std::snprintf(buf, sizeof buf, "\"%s\" is out of range (%g to %g)", key, min, max);
      refuse(buf);
    }
    return v;
  }
  unsigned integer(Json const& j, char const* key, unsigned max) const {
    auto it = j.find(key);
    if (it != j.end() && !it->is_number_unsigned())
      refuse(std::string("\"") + key + "\" is not a whole number from 0 to " + std::to_string(max));
    return static_cast<unsigned>(number(j, key, 0, max));
  }
  std::string text(Json const& j, char const* key) const {
    auto it = j.find(key);
    if (it == j.end())
      refuse(std::string("no \"") + key + "\"");
    if (!it->is_string())
      refuse(std::string("\"") + key + "\" is not a text");
    return it->get<std::string>();
  }
  void only(Json const& j, std::initializer_list<char const*> keys) const {
    for (auto const& [k, v] : j.items()) {
      bool known = false;
      for (auto const* key : keys)
        known = known || k == key;
      if (!known)
        refuse("unknown member \"" + k.substr(0, 40) + "\"");
    }
  }

 private:
  std::string const& name_;
  std::size_t line_;
};

}  // namespace

std::string jsonText(nlohmann::ordered_json const& j) {
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string accessText(bool write, PortAddr phy, std::uint8_t reg, std::uint16_t value) {
  char buf[80];
  if (write)
    std::snprintf(buf, sizeof buf, "write of 0x%04x to PHY %u register 0x%02x", value, phy, reg);
  else
    std::snprintf(buf, sizeof buf, "read of PHY %u register 0x%02x", phy, reg);
  return buf;
}

RecordError::RecordError(std::string const& name, std::size_t line, std::string const& reason)
    : std::runtime_error(name + (line ? ":" + std::to_string(line) : "") + ": " + reason),
      line_(line),
      reason_(reason) {}

BusRecord readBusRecord(std::istream& in, std::string const& name) {
  BusRecord r;
  r.name = name;
  std::string line;
  std::size_t n = 0;
  bool ended = false;
  double last = 0;
  while (true) {
    line.clear();
    bool newline = false;
    for (int c; (c = in.get()) != EOF;) {
      if (c == '\n') {
        newline = true;
        break;
      }
      if (line.size() >= kMaxLine)
        throw RecordError(name, n + 1, "a line longer than " + std::to_string(kMaxLine) + " bytes");
      line.push_back(static_cast<char>(c));
    }
    if (!newline && line.empty())
      break;
    if (!newline && n > 0 && !ended) {
      // Cut in the middle of a line: what came before stands.
      r.cut = "line " + std::to_string(n + 1) + " is cut short (" + std::to_string(line.size()) +
              " bytes without a line end) and left out";
      break;
    }
    Reader at(name, ++n);
    if (!newline)
      at.refuse("the last line has no line end: the record was cut short");
    if (ended)
      at.refuse("a line after the end line");
    if (n == 1) {
      Json h = at.parse(line, 8);
      if (h.value("record", Json()) != kMagic)
        at.refuse(std::string("not a bus record (its first line names no \"record\": \"") + kMagic +
                  "\")");
      if (at.integer(h, "format", 1000) != kFormat)
        at.refuse("format " + h["format"].dump() + "; this host reads format " +
                  std::to_string(kFormat));
      r.transport = at.text(h, "transport");
      std::string from = at.text(h, "from");
      if (from != "start" && from != "running")
        at.refuse("\"from\" must be start or running");
      r.fromStart = from == "start";
      at.text(h, "start");
      r.accessTime = at.number(h, "accessTime", 1e-9, 10);
      r.header = line;
      continue;
    }
    Json j = at.parse(line, 1);
    double t = at.number(j, "t", 0, 1e9);
    if (t < last)
      at.refuse("time " + j["t"].dump() + " is before the line above (lines are in time order)");
    last = t;
    if (j.contains("end")) {
      at.only(j, {"t", "end", "limit"});
      r.endReason = at.text(j, "end");
      if (r.endReason != "stopped" && r.endReason != "sizeLimit" && r.endReason != "reload")
        at.refuse("\"end\" must be stopped, sizeLimit or reload");
      if (j.contains("limit"))
        at.number(j, "limit", 0, 1e15);
      r.end = t;
      r.endLine = n;
      ended = true;
      continue;
    }
    at.only(j, {"t", "phy", "reg", "op", "value", "error"});
    if (r.accesses.size() >= kMaxAccesses)
      at.refuse("more than " + std::to_string(kMaxAccesses) + " accesses");
    Access a;
    a.line = n;
    a.t = t;
    a.phy = static_cast<PortAddr>(at.integer(j, "phy", 31));
    a.reg = static_cast<std::uint8_t>(at.integer(j, "reg", 31));
    std::string op = at.text(j, "op");
    if (op != "read" && op != "write")
      at.refuse("\"op\" must be read or write");
    a.write = op == "write";
    a.value = static_cast<std::uint16_t>(at.integer(j, "value", 0xffff));
    if (j.contains("error")) {
      a.error = at.text(j, "error");
      if (a.error.empty())
        at.refuse("\"error\" is empty (a successful access has none)");
      if (!a.write && a.value != 0)
        at.refuse("a failed read with a value");
    }
    r.accesses.push_back(std::move(a));
  }
  if (n == 0)
    throw RecordError(name, 0, "empty: not a bus record");
  if (!ended) {
    // A full disk or a crash: the record holds what was written.
    r.endReason = "cut";
    r.endLine = n;
    r.end = last;
    r.cut = name + ": no end line; the record stops after line " + std::to_string(n) +
            (r.cut.empty() ? "" : " (" + r.cut + ")") +
            " and is used up to there (a full disk or a stop that was not clean cut it short)";
  }
  return r;
}

}  // namespace Hardware::Mdio::Record
