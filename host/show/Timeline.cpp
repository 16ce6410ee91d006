#include "host/show/Timeline.h"

#include <systemd/sd-daemon.h>

#include <cerrno>
#include <cstring>

#include "platform/kiv/Clock.h"

namespace Host {

namespace {
bool stdoutGone = false;
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
  } else {
    std::snprintf(head, sizeof head, "%10.3f  %-7s ", Kiv::System::currentTime(), kind.c_str());
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
