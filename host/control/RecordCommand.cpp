#include "host/agent/RunningAgent.h"
#include "host/appliance/StateDb.h"
#include "host/control/CommandFamilies.h"
#include "host/control/CommandSupport.h"
#include "host/record/FieldRecord.h"

// record: the bus record of a running host, started and ended by hand.
namespace Host::Commands {

namespace {

Json recordStart(RunningAgent& s, std::vector<std::string> const& argv) {
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

Json recordStop(RunningAgent& s, std::vector<std::string> const& argv) {
  auto& rec = s.db().recorder();
  needArgs(argv, 2, 2, "record stop");
  if (!rec.recording())
    throw CommandError("no record is being written");
  rec.recordingEnd();
  std::string text = recordSummary(rec);
  logged(s, text);
  return done(text, {{"path", rec.path()}, {"accesses", rec.accesses()}, {"bytes", rec.bytes()}});
}

// Each word of record, with its arguments in the usage.
struct RecordWord {
  char const* word;
  char const* arguments;
  Json (*run)(RunningAgent& s, std::vector<std::string> const& argv);
};
constexpr RecordWord kRecordWords[] = {{"start", " FILE [LIMIT]", recordStart},
                                       {"stop", "", recordStop}};

}  // namespace

std::vector<std::string> recordWords() {
  std::vector<std::string> words;
  for (auto const& w : kRecordWords)
    words.emplace_back(w.word);
  return words;
}

Json recordCommand(ControlContext& c, std::vector<std::string> const& argv) {
  auto& s = c.agent;
  auto& rec = s.db().recorder();
  std::string what = argv.size() > 1 ? argv[1] : "";
  std::string usage = "usage:";
  for (auto const& w : kRecordWords) {
    if (what == w.word)
      return w.run(s, argv);
    usage += std::string(" record ") + w.word + w.arguments + " |";
  }
  if (what.empty()) {
    if (!rec.recording())
      return done("no record is being written", {{"recording", false}});
    return done("recording to " + rec.path() + ": " + std::to_string(rec.accesses()) +
                    " accesses, " + std::to_string(rec.bytes()) + " bytes so far",
                {{"recording", true}, {"path", rec.path()}, {"accesses", rec.accesses()}});
  }
  throw CommandError(usage + " record");
}

}  // namespace Host::Commands
