#include "host/show/Timeline.h"

#include <systemd/sd-daemon.h>

#include "platform/kiv/Clock.h"

namespace Host {

void Timeline::line(std::string const& kind, std::string const& text) const {
  if (journal_) {
    char const* priority = kind != "status"                ? SD_INFO
                           : text.rfind("error: ", 0) == 0 ? SD_WARNING
                                                           : SD_NOTICE;
    std::fprintf(out_, "%s%-7s %s\n", priority, kind.c_str(), text.c_str());
    std::fflush(out_);
    return;
  }
  std::fprintf(out_, "%10.3f  %-7s %s\n", Kiv::System::currentTime(), kind.c_str(), text.c_str());
  std::fflush(out_);
}

void Timeline::note(std::string const& text) const {
  std::fprintf(out_, "%s%s\n", journal_ ? SD_INFO : "", text.c_str());
  std::fflush(out_);
}

}  // namespace Host
