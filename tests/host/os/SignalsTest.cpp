// The host's signals read on its loop: one that comes while the host is
// still starting waits for the loop instead of ending the process.

#include "host/os/Signals.h"

#include <gtest/gtest.h>
#include <signal.h>

#include "tests/support/Loop.h"

namespace {

TEST(Signals, ASignalDuringASlowStartWaitsForTheLoop) {
  TestSupport::resetLoop();
  sigset_t old;
  ::pthread_sigmask(SIG_SETMASK, nullptr, &old);
  Host::blockHostSignals();
  // Before anything reads them: the process would have ended here.
  ::raise(SIGHUP);
  ::raise(SIGHUP);
  {
    Host::Signals signals;
    int hangups = 0;
    signals.hangupIs([&] { ++hangups; });
    signals.readable();
    EXPECT_EQ(hangups, 1) << "two waiting SIGHUPs ask for one reload";
    EXPECT_EQ(signals.stoppedBy(), "");
    ::raise(SIGTERM);
    signals.readable();
    EXPECT_EQ(signals.stoppedBy(), "SIGTERM");
    EXPECT_EQ(hangups, 1);
  }
  TestSupport::resetLoop();
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace
