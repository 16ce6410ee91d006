#pragma once

#include <sys/types.h>

#include <chrono>

namespace Bench {

// A benchmarked child process as the kernel measured it when it was reaped.
struct ChildRun {
  bool ok = false;  // exited with status 0
  double wallSeconds = 0;
  double peakRssMib = 0;  // of the child alone
  double cpuSeconds = 0;  // user and system time of the child
};

// Starts argv (null-terminated) with stdin and stdout on /dev/null, and
// stderr too when `quietStderr`; -1 when it cannot be started.
pid_t spawnChild(char* const argv[], bool quietStderr);

// Waits for the child and measures it; wall time counts from `started`.
ChildRun reapChild(pid_t pid, std::chrono::steady_clock::time_point started);

}  // namespace Bench
