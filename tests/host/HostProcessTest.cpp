// agenthost as a user runs it: a scenario that fails, an appliance file
// refused before anything starts, and a real-time run in a private network
// namespace ended by a signal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "host/Command.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/Netns.h"

namespace {

// agenthost running with its output in files of a test directory.
class Host {
 public:
  Host(HostTest::TempDir const& dir, std::vector<std::string> args)
      : out_(dir.path() + "/stdout"), err_(dir.path() + "/stderr") {
    args.insert(args.begin(), AGENTHOST_BIN);
    pid_ = ::fork();
    if (pid_ == 0) {
      int in = ::open("/dev/null", O_RDONLY);
      int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(in, 0);
      ::dup2(out, 1);
      ::dup2(err, 2);
      std::vector<char*> argv;
      for (auto& a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~Host() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // The exit status, or -1 when it did not end within the time.
  int wait(double seconds = 60) {
    int status = 0;
    bool done = until([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, seconds);
    if (!done)
      return -1;
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void signal(int sig) { ::kill(pid_, sig); }
  pid_t pid() const { return pid_; }
  std::string out() const { return HostTest::readFile(out_); }
  std::string err() const { return HostTest::readFile(err_); }

  // Polls the condition until it holds or the time is up.
  static bool until(std::function<bool()> const& pred, double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > end)
        return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

 private:
  std::string out_, err_;
  pid_t pid_ = -1;
  bool exited_ = false;
};

std::string appliance() {
  return std::string(EXAMPLES_DIR) + "/appliance.yaml";
}

bool protodownOn(std::string const& ns, std::string const& dev) {
  std::string out;
  ::Host::runProgram({"ip", "-n", ns, "-d", "link", "show", "dev", dev}, &out);
  return out.find("protodown on") != std::string::npos;
}

bool listed(std::string const& ns) {
  std::string out;
  ::Host::runProgram({"ip", "netns", "list"}, &out);
  return out.find(ns) != std::string::npos;
}

TEST(AgentHost, FailedExpectationsAndEventsEndTheScenarioWithStatusOne) {
  HostTest::TempDir dir;
  auto sc = dir.file("failing.yaml", "appliance: " + appliance() + R"(
steps:
  - at: 1.0
    expect: {port: 1, linkStatus: 1}
  - at: 1.0
    expect: {port: 1, linkStatus: 0}
  - at: 2.0
    mgmtDel: Management9
)");
  Host h(dir, {"--sim-cpu", "--scenario", sc});
  EXPECT_EQ(h.wait(), 1) << h.out() << h.err();
  auto out = h.out();
  EXPECT_NE(out.find("     1.000  expect  port 1 link status 1 ... ok\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("     1.000  expect  port 1 link status 0 ... FAILED: got 1 (" + sc + ":5)\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("     2.000  event   management interface Management9 removed ... FAILED: "
                     "no management interface Management9 (" +
                     sc + ":7)\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\nresult: 1 passed, 2 failed\n"), std::string::npos) << out;
}

TEST(AgentHost, BadApplianceIsRefusedBeforeAnythingStarts) {
  HostTest::TempDir dir;
  auto bad = dir.file("bad.yaml", R"(switch:
  managementInterfaces:
    - {intfId: Management1, cpuInterface: averyveryverylongname, externalPort: 1, internalPort: 5}
)");
  Host h(dir, {bad});
  EXPECT_EQ(h.wait(), 2);
  EXPECT_EQ(h.err(), "agenthost: " + bad +
                         ":3: managementInterfaces[0].cpuInterface 'averyveryverylongname' is 21 "
                         "bytes long; a netdevice name has at most 15\n");
  EXPECT_EQ(h.out(), "");
}

// A real-time run with Management1's outside link down: mgmt1 is in
// protodown when SIGTERM comes. The root's teardown must send no netlink
// request, so the kept namespace still shows protodown on.
TEST(AgentHost, SigtermTearsDownWithoutTouchingTheNetdevices) {
  REQUIRE_NETNS();
  HostTest::TempDir dir;
  auto app = dir.file("down.yaml", R"(switch:
  managementInterfaces:
    - {intfId: Management1, cpuInterface: mgmt1, externalPort: 1, internalPort: 5}
    - {intfId: Management2, externalPort: 2, internalPort: 6}
interfaceConfig:
  slice1: {Management1: enabled, Management2: enabled}
chip:
  links: {1: down, 2: up}
)");
  std::string ns = "aghtest-term-" + std::to_string(::getpid());
  std::string status = dir.path() + "/status.json";
  Host h(dir, {"--netns=" + ns, "--keep-netns", "--status", status, "--trace",
               "CpuIfMgr/0-8 Bcm53134Agent/0", app});
  ASSERT_TRUE(Host::until([&] { return protodownOn(ns, "mgmt1"); }, 30)) << h.out() << h.err();
  ASSERT_TRUE(Host::until(
      [&] {
        return HostTest::readFile(status).find(R"("1": {"linkStatus": 0, "link": "linkDown"})") !=
               std::string::npos;
      },
      30))
      << HostTest::readFile(status);
  auto before = h.err().size();
  h.signal(SIGTERM);
  EXPECT_EQ(h.wait(), 0) << h.out() << h.err();

  auto teardown = h.err().substr(before);
  EXPECT_EQ(teardown.find("protodown"), std::string::npos) << teardown;
  EXPECT_EQ(teardown.find("ProtodownOp"), std::string::npos) << teardown;
  EXPECT_TRUE(protodownOn(ns, "mgmt1"));
  auto out = h.out();
  EXPECT_NE(out.find("agenthost: SIGTERM: stopping"), std::string::npos) << out;
  EXPECT_NE(out.find("network namespace " + ns + " kept"), std::string::npos) << out;
  ::Host::runProgram({"ip", "netns", "del", ns});
}

TEST(AgentHost, NamespaceModeMakesItsNamespaceAndRemovesItOnSigint) {
  REQUIRE_NETNS();
  HostTest::TempDir dir;
  std::string ns = "aghtest-int-" + std::to_string(::getpid());
  Host h(dir, {"--netns=" + ns, appliance()});
  ASSERT_TRUE(
      Host::until([&] { return h.out().find("running in real time") != std::string::npos; }, 30))
      << h.out() << h.err();
  EXPECT_TRUE(listed(ns));
  std::string shown;
  EXPECT_EQ(::Host::runProgram({"ip", "-n", ns, "-d", "link", "show", "dev", "mgmt1"}, &shown), 0);
  EXPECT_NE(shown.find("macvlan"), std::string::npos) << shown;
  h.signal(SIGINT);
  EXPECT_EQ(h.wait(), 0) << h.out() << h.err();
  EXPECT_FALSE(listed(ns));
  EXPECT_NE(h.out().find("network namespace " + ns + " removed"), std::string::npos) << h.out();
}

}  // namespace
