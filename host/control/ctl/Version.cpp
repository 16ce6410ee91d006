#include "host/control/ctl/CliRefusal.h"

namespace Host::Ctl {

std::string versionLine(std::string_view program) {
  return std::string(program) + " " + PROJECT_VERSION;
}

}  // namespace Host::Ctl
