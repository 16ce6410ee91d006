#include "host/agent/RunningAgent.h"
#include "host/appliance/StateDb.h"
#include "host/control/CommandFamilies.h"
#include "host/control/CommandSupport.h"
#include "host/record/FieldRecord.h"

// record: the bus record of a running host, started and ended by hand.
namespace Host::Commands {

Json recordCommand(ControlContext& c, std::vector<std::string> const& argv) {
  auto& s = c.agent;
  auto& rec = s.db().recorder();
  std::string what = argv.size() > 1 ? argv[1] : "";
  if (what == "start") {
    needArgs(argv, 3, 4, "record start FILE [LIMIT]");
    std::size_t limit = Hardware::Mdio::Record::RecordingBus::kDefaultLimit;
    std::string path;
    try {
      if (argv.size() == 4)
        limit = parseRecordLimit(argv[3]);
      path = s.recordStart(argv[2], limit, false);
    } catch (std::exception const& e) {
      throw CommandError(e.what());
    }
    std::string text = "recording every MDIO bus access to " + path + " (size limit " +
                       std::to_string(limit) + " bytes)";
    logged(s, text);
    return done(text, {{"path", path}, {"limit", limit}});
  }
  if (what == "stop") {
    needArgs(argv, 2, 2, "record stop");
    if (!rec.recording())
      throw CommandError("no record is being written");
    rec.recordingEnd();
    std::string text = recordSummary(rec);
    logged(s, text);
    return done(text, {{"path", rec.path()}, {"accesses", rec.accesses()}, {"bytes", rec.bytes()}});
  }
  if (what.empty()) {
    if (!rec.recording())
      return done("no record is being written", {{"recording", false}});
    return done("recording to " + rec.path() + ": " + std::to_string(rec.accesses()) +
                    " accesses, " + std::to_string(rec.bytes()) + " bytes so far",
                {{"recording", true}, {"path", rec.path()}, {"accesses", rec.accesses()}});
  }
  throw CommandError("usage: record start FILE [LIMIT] | record stop | record");
}

}  // namespace Host::Commands
