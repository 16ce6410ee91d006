#pragma once

#include <signal.h>

#include <functional>
#include <string>

namespace Host {

// Blocks the signals the host handles (SIGINT, SIGTERM, SIGHUP) in the
// calling thread. main() calls it before any thread starts: the threads made
// later (the metrics endpoint's) inherit the mask, so none of them can be
// killed by a signal meant for the loop, and a signal that comes before the
// loop runs (during a slow start) waits for it.
void blockHostSignals();

// The handled signals, read from a descriptor on the event loop, so that
// teardown and reloads run on the loop's own thread and never inside an
// agent operation. SIGINT and SIGTERM stop the loop; SIGHUP calls the hangup
// function (ignored without one). A signal that came before is read at the
// loop's first turn.
class Signals {
 public:
  // Blocks the signals too. Throws std::runtime_error when the descriptor
  // cannot be made.
  Signals();
  ~Signals();
  Signals(Signals const&) = delete;
  Signals& operator=(Signals const&) = delete;

  void hangupIs(std::function<void()> fn) { hangup_ = std::move(fn); }
  // The signal that stopped the loop ("SIGINT", "SIGTERM"), or empty.
  std::string const& stoppedBy() const noexcept { return stoppedBy_; }
  // Takes in the signals waiting; the loop calls it when one is.
  void readable();

 private:
  int fd_ = -1;
  std::string stoppedBy_;
  std::function<void()> hangup_;
};

}  // namespace Host
