#include "soak/Report.h"

#include <cstdio>
#include <sstream>

#include "tests/support/Loop.h"

namespace Soak {

void Report::note(std::string text) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "t=%.3f cycle %u: ", TestSupport::now(), sum_.cycles);
  text = buf + text;
  if (opt_.verbose)
    std::printf("%s\n", text.c_str());
  recent_.push_back(std::move(text));
  if (recent_.size() > 24)
    recent_.pop_front();
}

void Report::violation(std::string const& invariant, std::string const& detail) const {
  std::ostringstream os;
  os << "seed " << opt_.seed << ", virtual time " << TestSupport::now() << " s, cycle "
     << sum_.cycles << ": invariant violated: " << invariant << ": " << detail;
  if (!recent_.empty()) {
    os << "\nlatest faults:";
    for (auto const& r : recent_)
      os << "\n  " << r;
  }
  throw Violation(os.str());
}

}  // namespace Soak
