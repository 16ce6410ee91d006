// Fuzz target: the bus record reader. Whatever the bytes, a record is either
// refused with a RecordError naming the record and a line within it, or
// read into accesses in line and time order that end before the end line;
// its appliance is then accepted or refused with an InputError, and a
// scenario can always be made from an accepted one.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "host/record/FieldRecord.h"
#include "workbench/scenario/RecordReplay.h"

namespace {

void check(bool ok, char const* what) {
  if (!ok) {
    std::fprintf(stderr, "accepted record breaks: %s\n", what);
    std::abort();
  }
}

std::size_t lines(std::string const& text) {
  std::size_t n = 0;
  for (char c : text)
    n += c == '\n';
  return n + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  namespace Rec = Hardware::Mdio::Record;
  std::string const text(reinterpret_cast<char const*>(data), size);
  std::istringstream in(text);
  Rec::BusRecord r;
  try {
    r = Rec::readBusRecord(in, "fuzz.jsonl");
  } catch (Rec::RecordError const& e) {
    check(std::string(e.what()).rfind("fuzz.jsonl", 0) == 0, "a refusal names the record");
    check(e.line() <= lines(text), "a refusal's line is in the record");
    return 0;
  }
  double t = 0;
  std::size_t line = 1;
  for (auto const& a : r.accesses) {
    check(a.line > line && a.t >= t, "accesses in line and time order");
    check(a.phy < 32 && a.reg < 32, "PHY and register in range");
    line = a.line;
    t = a.t;
  }
  // A record cut short ends with its last whole line.
  check((r.endReason == "cut" ? r.endLine >= line : r.endLine > line) && r.end >= t,
        "the end line last");
  try {
    Host::recordedAppliance(r);
    Host::scenarioFromRecord(r);
  } catch (Host::InputError const&) {
  } catch (std::exception const& e) {
    std::fprintf(stderr, "refused with %s instead of an InputError\n", e.what());
    std::abort();
  }
  return 0;
}
