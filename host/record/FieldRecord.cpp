#include "host/record/FieldRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "host/appliance/ApplianceJson.h"

namespace Host {

using Json = nlohmann::ordered_json;
namespace Rec = Hardware::Mdio::Record;

std::size_t parseRecordLimit(std::string const& text) {
  std::size_t pos = 0;
  unsigned long long v = 0;
  try {
    v = std::stoull(text, &pos, 10);
  } catch (std::exception const&) {
    pos = 0;
  }
  std::string unit = text.substr(pos);
  unsigned shift = unit.empty()                 ? 0
                   : unit == "k" || unit == "K" ? 10
                   : unit == "M"                ? 20
                   : unit == "G"                ? 30
                                                : 64;
  if (pos == 0 || text[0] == '-' || text[0] == '+' || shift == 64 || v == 0 ||
      v > (std::numeric_limits<std::size_t>::max() >> shift))
    throw std::invalid_argument(
        "the record's size limit must be a number of bytes, optionally "
        "with k, M or G (e.g. 4M), not '" +
        clipped(text) + "'");
  return static_cast<std::size_t>(v) << shift;
}

void recordStart(StateDb& db, ApplianceDesc const& appliance, std::string const& path,
                 std::size_t limit, bool fromStart) {
  Json members = {{"host", std::string("agenthost ") + AGENTHOST_VERSION},
                  {"applianceFile", appliance.file},
                  {"appliance", applianceJson(appliance)}};
  db.recorder().recordingIs(path, members, limit, fromStart);
}

std::string recordSummary(Rec::RecordingBus const& r) {
  return "record " + r.path() + ": " + std::to_string(r.accesses()) + " accesses, " +
         std::to_string(r.bytes()) + " bytes";
}

}  // namespace Host
