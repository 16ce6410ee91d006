#pragma once

#include <sys/types.h>

#include <functional>

namespace Bench {

// A benchmarked child process as the kernel measured it.
struct ChildRun {
  bool ok = false;  // exited with status 0
  double wallSeconds = 0;
  double peakRssMib = 0;  // of the program the child runs, alone
  double cpuSeconds = 0;  // user and system time of the child
};

// Runs argv (null-terminated) as a child with stdin and stdout on /dev/null,
// and stderr too when `quietStderr`, until it exits; `whileRunning`, when
// given, is called with its pid meanwhile (to talk to it or stop it). Wall
// time counts from the start.
//
// The peak resident set is the child program's own high-water mark
// (VmHWM), read as the child exits: the child is traced so that it stops
// there before its memory is released. The kernel's ru_maxrss of a child
// also counts the process it ran in before its exec (the spawner's own
// memory, whose resident set a vfork-style spawn hands down whole), so it
// is the figure only where the child cannot be traced.
ChildRun runChild(char* const argv[], bool quietStderr,
                  std::function<void(pid_t)> const& whileRunning = {});

}  // namespace Bench
