#pragma once

#include <string>
#include <vector>

namespace TestSupport {

// The emulator this test program runs under, as the cross build's test
// runner names it (TESTS_EMULATOR); empty when it runs natively, and always
// empty in a native build, whatever the environment says.
std::string const& emulator();

// argv with the emulator in front when there is one: how a test starts one of
// our own programs of the same build.
std::vector<std::string> underEmulator(std::vector<std::string> argv);

}  // namespace TestSupport

// Skips what user-mode emulation cannot carry (a system call or a socket
// family it does not translate), with the reason; does nothing natively.
#define SKIP_UNDER_EMULATION(why)                                                    \
  do {                                                                               \
    if (!::TestSupport::emulator().empty())                                          \
      GTEST_SKIP() << "not under user-mode emulation (" << ::TestSupport::emulator() \
                   << "): " << why;                                                  \
  } while (0)
