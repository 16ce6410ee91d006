#include "host/RunLines.h"

#include <systemd/sd-daemon.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "host/agent/RunningAgent.h"
#include "host/appliance/StateDb.h"
#include "host/os/Journal.h"
#include "host/os/ServiceManager.h"
#include "host/record/FieldRecord.h"
#include "host/show/Timeline.h"
#include "platform/bus/record/RecordingBus.h"

namespace Host {

namespace {

// Whether stdout and stderr are the journal's streams: then the host's
// lines carry the priority the journal reads from a stream, and no time of
// their own.
bool journalOut = false, journalErr = false;

}  // namespace

bool stdoutIsJournal() {
  return journalOut;
}

bool stderrIsJournal() {
  return journalErr;
}

void detectJournal() {
  journalOut = journalStream(1);
  journalErr = journalStream(2);
  if (journalOut) {
    try {
      journalEntriesTo(journalEventSender());
    } catch (std::runtime_error const& e) {
      complain(std::string(e.what()) + "; event lines go without their fields");
    }
  }
}

void say(std::string const& text) {
  if (journalOut && sentToJournal("host", text, "agenthost: " + text))
    return;
  stdoutLine((journalOut ? SD_INFO : "") + ("agenthost: " + text) + "\n");
}

void complain(std::string const& text) {
  if (journalErr && sentToJournal("host", text, "agenthost: " + text))
    return;
  std::fprintf(stderr, "%sagenthost: %s\n", journalErr ? SD_ERR : "", text.c_str());
}

// --trace, else TRACE, else the fallback.
std::string traceSpecText(Options const& o, std::string const& fallback) {
  if (o.trace)
    return *o.trace;
  if (char const* env = std::getenv("TRACE"); env && *env)
    return env;
  return fallback;
}

// The signals of a real-time run, or null after saying why they cannot be
// had.
std::unique_ptr<Signals> stopSignals() {
  try {
    return std::make_unique<Signals>();
  } catch (std::runtime_error const& e) {
    complain(e.what());
    return nullptr;
  }
}

// Starts the bus record of --record, before the agent starts; false when
// there is none. Throws std::runtime_error when it cannot be made.
bool startRecord(Options const& o, RunningAgent& agent,
                 std::function<void(std::string const&)> const& tell) {
  if (o.record.empty())
    return false;
  auto limit = o.recordLimit ? o.recordLimit : Hardware::Mdio::Record::RecordingBus::kDefaultLimit;
  std::string path = agent.recordStart(o.record, limit, true);
  tell("record: every MDIO bus access to " + path + " (size limit " + std::to_string(limit) +
       " bytes)");
  return true;
}

void endRecord(RunningAgent& agent, std::function<void(std::string const&)> const& tell) {
  auto& r = agent.db().recorder();
  if (!r.recording())
    return;
  r.recordingEnd();
  tell(recordSummary(r));
}

}  // namespace Host
