#include "host/HostLines.h"

#include <systemd/sd-daemon.h>

#include <cstdio>
#include <stdexcept>

#include "host/os/Journal.h"
#include "host/os/ServiceManager.h"
#include "host/show/Timeline.h"

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

}  // namespace Host
