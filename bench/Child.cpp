#include "bench/Child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <optional>
#include <thread>

extern char** environ;

namespace Bench {

namespace {

// VmHWM of a process, in KiB.
std::optional<long> highWaterKib(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
  std::FILE* f = std::fopen(path, "re");
  if (!f)
    return std::nullopt;
  std::optional<long> kib;
  char line[256];
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, "VmHWM:", 6) == 0) {
      kib = std::strtol(line + 6, nullptr, 10);
      break;
    }
  }
  std::fclose(f);
  return kib;
}

// Forks and runs argv in the child, traced by this thread (a tracee is
// traced by the thread that forked it); -1 when it cannot.
pid_t startTraced(char* const argv[], bool quietStderr) {
  pid_t pid = ::fork();
  if (pid != 0)
    return pid;
  // Only async-signal-safe calls between fork and exec.
  int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  int out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
      (quietStderr && ::dup2(out, 2) < 0))
    ::_exit(127);
  ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);  // untraced if refused: ru_maxrss then
  ::execve(argv[0], argv, environ);
  ::_exit(127);
}

// Follows the traced child to its end: lets it go on after its exec, reads
// its high-water mark when it stops on its way out, passes every signal on.
ChildRun follow(pid_t pid) {
  ChildRun r;
  std::optional<long> hwmKib;
  int status = 0;
  struct rusage ru {};
  bool first = true;
  for (;;) {
    pid_t const got = ::wait4(pid, &status, 0, &ru);
    if (got < 0 && errno == EINTR)
      continue;
    if (got != pid)
      return r;
    if (WIFEXITED(status) || WIFSIGNALED(status))
      break;
    int inject = 0;
    if (first && WSTOPSIG(status) == SIGTRAP) {
      // The stop after its exec: from here on, stop once more on exit, and
      // never outlive this process.
      ::ptrace(PTRACE_SETOPTIONS, pid, nullptr,
               reinterpret_cast<void*>(PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL));
    } else if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
      hwmKib = highWaterKib(pid);
    } else {
      inject = WSTOPSIG(status);
    }
    first = false;
    ::ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(static_cast<long>(inject)));
  }
  r.peakRssMib = static_cast<double>(hwmKib.value_or(ru.ru_maxrss)) / 1024.0;  // both KiB
  r.cpuSeconds = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                 static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

}  // namespace

ChildRun runChild(char* const argv[], bool quietStderr,
                  std::function<void(pid_t)> const& whileRunning) {
  auto const t0 = std::chrono::steady_clock::now();
  // The tracer is a thread of its own, so that the child's stops are
  // answered at once while this thread does `whileRunning`.
  std::promise<pid_t> started;
  auto pidOf = started.get_future();
  ChildRun r;
  std::thread tracer([&] {
    pid_t const pid = startTraced(argv, quietStderr);
    started.set_value(pid);
    if (pid > 0)
      r = follow(pid);
  });
  pid_t const pid = pidOf.get();
  if (pid > 0 && whileRunning)
    whileRunning(pid);
  tracer.join();
  r.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return r;
}

}  // namespace Bench
