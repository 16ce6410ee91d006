// agenthost as a user runs it: a scenario that fails, and real-time runs in
// a private network namespace ended by a signal. (An appliance file refused
// before anything starts is AgentHostService's.)

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "host/os/Command.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/Netns.h"

namespace {

using HostTest::HostProcess;
using HostTest::until;

std::string appliance() {
  return std::string(EXAMPLES_DIR) + "/appliance.yaml";
}

// The example appliance with Management1's outside link down.
constexpr char const* kPort1Down = R"(switch:
  managementInterfaces:
    - {intfId: Management1, cpuInterface: mgmt1, externalPort: 1, internalPort: 5}
    - {intfId: Management2, externalPort: 2, internalPort: 6}
interfaceConfig:
  slice1: {Management1: enabled, Management2: enabled}
chip:
  links: {1: down, 2: up}
)";

bool protodownOn(std::string const& ns, std::string const& dev) {
  return HostTest::ipLink(ns, dev).find("protodown on") != std::string::npos;
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
  HostProcess h(dir, {"--sim-cpu", "--scenario", sc});
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

// A reader of stdout that goes away (agenthost ... | head -n 1) costs the
// host its stdout, not its life: it runs on, and its teardown on SIGINT
// still removes the namespace it made.
TEST(AgentHost, AReaderOfStdoutThatGoesAwayCostsOnlyTheStdout) {
  REQUIRE_NETNS();
  HostTest::TempDir dir;
  std::string ns = "aghtest-pipe-" + std::to_string(::getpid());
  std::string status = dir.path() + "/status.json";
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  pid_t head = ::fork();
  if (head == 0) {
    ::dup2(fds[0], 0);
    ::dup2(::open("/dev/null", O_WRONLY), 1);
    ::execlp("head", "head", "-n", "1", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  HostProcess h(dir, {"--netns=" + ns, "--no-control", "--status", status, appliance()},
                [&] { ::dup2(fds[1], 1); });
  ::close(fds[0]);
  ::close(fds[1]);
  int headStatus = 0;
  ASSERT_EQ(::waitpid(head, &headStatus, 0), head);
  // Ports in the status file: the loop runs, SIGHUP reloads (and says so on
  // stdout).
  ASSERT_TRUE(
      until([&] { return HostTest::readFile(status).find("linkStatus") != std::string::npos; }, 30))
      << h.err();
  h.signal(SIGHUP);
  ASSERT_TRUE(until(
      [&] { return h.err().find("agenthost: the reader of stdout has gone") != std::string::npos; },
      30))
      << h.err();
  h.signal(SIGINT);  // stops the host as SIGTERM does
  EXPECT_EQ(h.wait(), 0) << h.err();
  EXPECT_FALSE(listed(ns));
}

// Samples of a metrics text as the Python client's parser reads them, one
// "NAME LABEL=VALUE... VALUE" line each; fails the test when it refuses the
// text.
std::string parsed(HostTest::TempDir const& dir, std::string const& text) {
  auto file = dir.file("scraped.prom", text);
  std::string out;
  EXPECT_EQ(::Host::runProgram({"/usr/bin/python3", METRICS_PARSER, file}, &out), 0) << out;
  return out;
}

// A real-time host with Management1's outside link down, in a private
// namespace (root) so that the kernel's protodown of mgmt1 is on: scraped
// over HTTP with curl, its metrics accepted by a parser nobody here wrote.
// Then SIGTERM: the root's teardown must send no netlink request, so the
// kept namespace still shows protodown on.
TEST(AgentHost, MetricsAreScrapedAndParsedAndSigtermLeavesTheNetdevicesAlone) {
  REQUIRE_NETNS();
  HostTest::TempDir dir;
  std::string const ns = "aghtest-term-" + std::to_string(::getpid());
  std::string const textfile = dir.path() + "/agenthost.prom";
  HostProcess h(dir, {"--netns=" + ns, "--keep-netns", "--no-control", "--trace",
                      "CpuIfMgr/0-8 Bcm53134Agent/0", "--metrics", "127.0.0.1:0",
                      "--metrics-textfile", textfile, dir.file("down.yaml", kPort1Down)});
  auto const url = h.metricsUrl();
  EXPECT_EQ(url.rfind("http://127.0.0.1:", 0), 0u) << url;
  std::string const kernelOn =
      "agenthost_cpu_netdev_kernel_protodown interface=Management1 netdev=mgmt1 1.0\n";
  std::string samples;
  ASSERT_TRUE(until(
      [&] {
        std::string body;
        if (::Host::runProgram({"curl", "-sf", url}, &body) != 0)
          return false;
        samples = parsed(dir, body);
        return samples.find(kernelOn) != std::string::npos &&
               samples.find("agenthost_poll_cycles_completed_total 0.0\n") == std::string::npos;
      },
      30))
      << samples;
  for (auto const* line : {
           "agenthost_port_link_up interface=Management1 port=1 0.0\n",
           "agenthost_port_link_up interface=Management2 port=2 1.0\n",
           "agenthost_cpu_netdev_protodown interface=Management1 netdev=mgmt1 1.0\n",
           "agenthost_error 0.0\n",
           "agenthost_register_transactions_failed_total 0.0\n",
       }) {
    EXPECT_NE(samples.find(line), std::string::npos) << line << " in\n" << samples;
  }
  // The families no other scrape of a running host looks for.
  for (auto const* name :
       {"agenthost_port_link_last_change_timestamp_seconds ", "agenthost_register_repairs_total ",
        "agenthost_poll_cycle_duration_seconds_bucket ", "process_virtual_memory_bytes ",
        "process_start_time_seconds ", "process_open_fds ", "process_max_fds "}) {
    EXPECT_NE(samples.find(std::string("\n") + name), std::string::npos) << name;
  }
  // The textfile says the same (it follows within a second).
  std::string fromFile;
  EXPECT_TRUE(until(
      [&] {
        fromFile = parsed(dir, HostTest::readFile(textfile));
        return fromFile.find(
                   "agenthost_cpu_netdev_protodown interface=Management1 netdev=mgmt1 "
                   "1.0\n") != std::string::npos;
      },
      10))
      << fromFile;

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

}  // namespace
