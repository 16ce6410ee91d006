#include "tests/support/Emulation.h"

#include <cstdlib>

namespace TestSupport {

std::string const& emulator() {
  static std::string const name = [] {
#ifdef TESTS_CROSS_BUILD
    char const* e = std::getenv("TESTS_EMULATOR");
    return std::string(e ? e : "");
#else
    return std::string();
#endif
  }();
  return name;
}

std::vector<std::string> underEmulator(std::vector<std::string> argv) {
  if (!emulator().empty())
    argv.insert(argv.begin(), emulator());
  return argv;
}

}  // namespace TestSupport
