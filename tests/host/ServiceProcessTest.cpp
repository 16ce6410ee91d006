// agenthost started the way a service manager starts it: its output on the
// journal's stream, SIGHUP to reload and SIGTERM to stop. What the service
// manager hears is proven in virtual time (ServiceTest); here only what
// needs the process: its threads and its output streams. Real time, so
// every wait polls with a generous limit and nothing asserts on timing.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "host/os/Command.h"
#include "tests/host/HostTestSupport.h"

namespace {

using HostTest::HostProcess;
using HostTest::ScopedEnv;
using HostTest::until;

// JOURNAL_STREAM naming the file, as the service manager names its stream.
std::string journalStreamOf(std::string const& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

// SIGHUP with the metrics endpoint's threads running: the host reloads
// and goes on serving (a thread that did not block SIGHUP would have taken
// it and ended the process). Its output on the journal's stream carries the
// priorities; the trace, not on the journal here, keeps its times.
TEST(AgentHostService, SighupReloadsWhileTheMetricsEndpointServes) {
  HostTest::TempDir dir;
  auto file = dir.file("appliance.yaml", HostTest::exampleAppliance());
  dir.file("stdout", "");
  ScopedEnv journal("JOURNAL_STREAM", journalStreamOf(dir.path() + "/stdout"));
  HostProcess h(dir, {"--sim-cpu", "--no-control", "--metrics", "127.0.0.1:0", file});
  ASSERT_TRUE(until([&] { return h.out().find("running in real time") != std::string::npos; }, 30))
      << h.out() << h.err();
  auto const url = h.metricsUrl();
  ASSERT_FALSE(url.empty()) << h.out();

  auto text = HostTest::exampleAppliance();
  text.replace(text.find("Management1: enabled"), 20, "Management1: disabled");
  std::ofstream(file) << text;
  for (int i = 0; i < 3; ++i)
    h.signal(SIGHUP);
  ASSERT_TRUE(until(
      [&] { return h.out().find("<6>agenthost: reload: 1 change applied\n") != std::string::npos; },
      30))
      << h.out() << h.err();
  std::string body;
  EXPECT_EQ(::Host::runProgram({"curl", "-sf", url}, &body), 0) << h.err();
  EXPECT_NE(body.find("agenthost_port_link_up{"), std::string::npos) << body;

  h.signal(SIGTERM);
  EXPECT_EQ(h.wait(), 0) << h.err();
  auto const out = h.out();
  EXPECT_NE(out.find("<6>agenthost: SIGHUP: reloading " + file + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find("<5>status  port 1 link status 1 (linkUp)\n"), std::string::npos) << out;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    EXPECT_TRUE(line.rfind("<6>", 0) == 0 || line.rfind("<5>", 0) == 0) << line;
  auto err = h.err();
  EXPECT_NE(err.find(" Bcm53134SmPoll.cpp:"), std::string::npos) << err;
  EXPECT_EQ(err.find("<"), std::string::npos) << err;
}

// Refused before anything starts, and by --check alike.
TEST(AgentHostService, RefusalsOnTheJournalsStreamAreErrors) {
  HostTest::TempDir dir;
  auto bad = dir.file("bad.yaml", "switch:\n  bsu: 0\n");
  dir.file("stderr", "");
  ScopedEnv journal("JOURNAL_STREAM", journalStreamOf(dir.path() + "/stderr"));
  for (auto const& args : {std::vector<std::string>{bad}, {"--check", bad}}) {
    HostProcess h(dir, args);
    EXPECT_EQ(h.wait(), 2);
    EXPECT_EQ(h.err(), "<3>agenthost: " + bad +
                           ":2: unknown key 'bsu' in switch (known keys: ham, bus, "
                           "managementInterfaces, pollPeriod)\n");
    EXPECT_EQ(h.out(), "");
  }
}

}  // namespace
