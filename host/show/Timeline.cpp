#include "host/show/Timeline.h"

#include <systemd/sd-daemon.h>

#include <cerrno>
#include <cstring>

#include "platform/kiv/Clock.h"

namespace Host {

namespace {
bool stdoutGone = false;
JournalEntrySend journalSend;
}  // namespace

void journalEntriesTo(JournalEntrySend send) {
  journalSend = std::move(send);
}

bool journalEntriesOn() {
  return static_cast<bool>(journalSend);
}

bool sentToJournal(std::string const& kind, std::string const& text, std::string const& message) {
  return journalSend && journalSend(kind, text, message);
}

void stdoutLine(std::string const& line) {
  if (stdoutGone)
    return;
  std::fputs(line.c_str(), stdout);
  if (std::fflush(stdout) != 0 && errno == EPIPE) {
    stdoutGone = true;
    std::fprintf(stderr,
                 "agenthost: the reader of stdout has gone (%s); its lines are dropped from "
                 "now on\n",
                 std::strerror(errno));
  }
}

void Timeline::line(std::string const& kind, std::string const& text) const {
  char head[64];
  if (journal_) {
    char const* priority = kind != "status"                ? SD_INFO
                           : text.rfind("error: ", 0) == 0 ? SD_WARNING
                                                           : SD_NOTICE;
    std::snprintf(head, sizeof head, "%s%-7s ", priority, kind.c_str());
    if (sentToJournal(kind, text, head + std::strlen(priority) + text))
      return;
  } else {
    // Milliseconds in a column of ten; a run past 10^6 s gives up decimals
    // rather than the column.
    double const t = Kiv::System::currentTime();
    int const decimals = t < 1e6 ? 3 : t < 1e7 ? 2 : t < 1e8 ? 1 : 0;
    std::snprintf(head, sizeof head, "%10.*f  %-7s ", decimals, t, kind.c_str());
  }
  write(head + text + "\n");
}

void Timeline::note(std::string const& text) const {
  write((journal_ ? SD_INFO : "") + text + "\n");
}

void Timeline::write(std::string const& line) const {
  if (out_ == stdout) {
    stdoutLine(line);
    return;
  }
  std::fputs(line.c_str(), out_);
  std::fflush(out_);
}

}  // namespace Host
