#include "host/show/Timeline.h"

#include "platform/kiv/Clock.h"

namespace Host {

void Timeline::line(std::string const& kind, std::string const& text) const {
  std::fprintf(out_, "%10.3f  %-7s %s\n", Kiv::System::currentTime(), kind.c_str(), text.c_str());
  std::fflush(out_);
}

void Timeline::note(std::string const& text) const {
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

}  // namespace Host
