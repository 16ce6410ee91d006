#pragma once

#include <sys/types.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/appliance/Appliance.h"
#include "host/show/Timeline.h"

namespace HostTest {

// An appliance file with two management interfaces, ports 1/5 (CPU netdevice
// mgmt1) and 2/6 (none), two slices, links 1 up and 2 down.
inline constexpr char const* kTwoInterfaceAppliance = R"(switch:
  ham: false
  bus: 2
  managementInterfaces:
    - intfId: Management1
      cpuInterface: mgmt1
      externalPort: 1
      internalPort: 5
    - intfId: Management2
      externalPort: 2
      internalPort: 6
interfaceConfig:
  slice1: {Management1: enabled}
  slice2: {Management2: disabled, Ethernet7: enabled}
chip:
  links: {1: up, 2: down}
  accessTime: 0.5
)";

// The same two management interfaces as a description, with one slice
// (Management2 disabled), port 1 up and ham present on bus 0.
Host::ApplianceDesc twoInterfaces();

// The example appliance file's text (examples/appliance.yaml).
std::string exampleAppliance();

// How often `what` occurs in the text.
std::size_t occurrences(std::string const& text, std::string const& what);

// What `ip -d link show dev DEV` says in the named network namespace (that
// it does not exist, when it does not).
std::string ipLink(std::string const& ns, std::string const& dev);

// agentctl run as a program on the socket, as this build runs its programs:
// its exit status and its output (standard output and error together).
struct CtlRun {
  int status;
  std::string out;
};
CtlRun agentctl(std::string const& socket, std::vector<std::string> args);

// A directory of its own for one test, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(TempDir const&) = delete;
  TempDir& operator=(TempDir const&) = delete;
  std::string const& path() const { return path_; }
  // Writes a file in the directory and returns its path.
  std::string file(std::string const& name, std::string const& content) const;

 private:
  std::string path_;
};

std::string readFile(std::string const& path);
// A JSON file (the status file) in one line without spaces, for a test to
// look for members in whatever layout it was written; "" when it is not
// JSON (not written yet).
std::string compactJson(std::string const& path);

// Why `load` refuses the text once written to a file in `dir`: the
// InputError's message after the file name, which it must start with. A test
// failure (and "") when the text is accepted.
std::string refusalOf(TempDir const& dir, std::string const& text,
                      std::function<void(std::string const& path)> const& load);

// Polls the condition every 20 ms until it holds or the time is up.
bool until(std::function<bool()> const& pred, double seconds);

// A datagram socket in a test directory that listens as the service
// manager's notification socket does (NOTIFY_SOCKET names it).
class NotifySocket {
 public:
  explicit NotifySocket(TempDir const& dir);
  ~NotifySocket();
  NotifySocket(NotifySocket const&) = delete;
  NotifySocket& operator=(NotifySocket const&) = delete;
  std::string const& path() const { return path_; }
  // The messages waiting, oldest first, without blocking.
  std::vector<std::string> receive();

 private:
  std::string path_;
  int fd_ = -1;
};

// A timeline whose lines go nowhere, for a session whose output no test
// reads.
class QuietTimeline {
 public:
  QuietTimeline() : file_(std::fopen("/dev/null", "w"), std::fclose), timeline_(file_.get()) {}
  Host::Timeline const& operator*() const { return timeline_; }

 private:
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
  Host::Timeline timeline_;
};

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(char const* name, std::string const& value);
  ~ScopedEnv();
  ScopedEnv(ScopedEnv const&) = delete;
  ScopedEnv& operator=(ScopedEnv const&) = delete;

 private:
  std::string name_;
};

// agenthost running as a child, its standard input empty and its output in
// files of a test directory; killed if still running when the object goes.
// `inChild` runs in the child just before agenthost is executed.
class HostProcess {
 public:
  HostProcess(TempDir const& dir, std::vector<std::string> args,
              std::function<void()> const& inChild = {});
  ~HostProcess();
  HostProcess(HostProcess const&) = delete;
  HostProcess& operator=(HostProcess const&) = delete;

  // The exit status, or -1 when it did not end within the time.
  int wait(double seconds = 60);
  void signal(int sig);
  std::string out() const { return readFile(out_); }
  std::string err() const { return readFile(err_); }
  // The URL it says it serves metrics on, once said within the time ("" if not).
  std::string metricsUrl(double seconds = 30) const;

 private:
  std::string out_, err_;
  pid_t pid_ = -1;
  bool exited_ = false;
};

}  // namespace HostTest
