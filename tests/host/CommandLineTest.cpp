// Options, trace specs and trace line handling.

#include <gtest/gtest.h>

#include "host/Options.h"
#include "host/Session.h"
#include "host/TraceOutput.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/Loop.h"

namespace {

Host::Options parse(std::vector<std::string> const& args) {
  return Host::parseOptions(args);
}

std::string refusal(std::vector<std::string> const& args) {
  try {
    parse(args);
  } catch (std::invalid_argument const& e) {
    return e.what();
  }
  return "accepted";
}

TEST(Options, RunAndScenarioModes) {
  auto o = parse(
      {"--trace", "CpuIfMgr/0-8", "--status=/tmp/s.json", "--netns=ns1", "--keep-netns", "a.yaml"});
  EXPECT_EQ(o.appliance, "a.yaml");
  EXPECT_EQ(*o.trace, "CpuIfMgr/0-8");
  EXPECT_EQ(o.session.statusFile, "/tmp/s.json");
  EXPECT_EQ(o.session.cpu, Host::CpuRequest::netns);
  EXPECT_EQ(o.session.netnsName, "ns1");
  EXPECT_TRUE(o.session.keepNetns);
  EXPECT_TRUE(o.session.allowHostNetdevs);

  o = parse({"--scenario", "s.yaml", "--sim-cpu", "--agent", "Other", "--lib-dir", "/x"});
  EXPECT_EQ(o.scenario, "s.yaml");
  EXPECT_EQ(o.session.cpu, Host::CpuRequest::simulated);
  EXPECT_EQ(o.session.agentName, "Other");
  EXPECT_EQ(o.session.libDir, "/x");
  EXPECT_FALSE(o.session.allowHostNetdevs);

  EXPECT_EQ(parse({"a.yaml"}).session.cpu, Host::CpuRequest::automatic);
  EXPECT_TRUE(parse({"--help"}).help);
  EXPECT_TRUE(parse({"--check", "a.yaml"}).check);
}

TEST(Options, MistakesAreNamed) {
  EXPECT_EQ(refusal({}), "no appliance file given");
  EXPECT_EQ(refusal({"a.yaml", "b.yaml"}), "one appliance file only, got a.yaml and b.yaml");
  EXPECT_EQ(refusal({"--frobnicate", "a.yaml"}), "unknown option --frobnicate");
  EXPECT_EQ(refusal({"a.yaml", "--trace"}), "--trace needs a value");
  EXPECT_EQ(refusal({"--netns", "--sim-cpu", "a.yaml"}),
            "--netns and --sim-cpu exclude each other");
  EXPECT_EQ(refusal({"--scenario", "s.yaml", "a.yaml"}),
            "a scenario names its own appliance; drop a.yaml");
  EXPECT_EQ(refusal({"--keep-netns=yes", "a.yaml"}), "--keep-netns takes no value");
  // The control socket exists only where the loop runs in real time.
  EXPECT_EQ(refusal({"--control", "/tmp/c.sock", "--scenario", "s.yaml"}),
            "a scenario in virtual time has no control socket; add --real-time");
  EXPECT_EQ(refusal({"--real-time", "a.yaml"}),
            "--real-time is for scenarios; an appliance always runs in real time");
  EXPECT_EQ(refusal({"--control", "c.sock", "--no-control", "a.yaml"}),
            "--control and --no-control exclude each other");
  auto o = parse({"--real-time", "--control=/tmp/c.sock", "--scenario", "s.yaml"});
  EXPECT_TRUE(o.realTime);
  EXPECT_EQ(o.control, "/tmp/c.sock");
}

TEST(TraceOutput, SpecsMessagesAndMasking) {
  auto spec = Host::TraceSpec::parse("Bcm53134Agent/0,1 */8\tCpuIfMgr/0-2");
  EXPECT_EQ(spec.mask("Bcm53134Agent"), 0x3u);
  EXPECT_EQ(spec.mask("CpuIfMgr"), 0x7u);
  EXPECT_EQ(spec.mask("Other"), 0x100u);
  EXPECT_EQ(Host::TraceSpec::parse("CpuIfMgr/none").mask("CpuIfMgr"), 0u);
  EXPECT_THROW(Host::TraceSpec::parse("Bcm53134Agent"), std::invalid_argument);
  EXPECT_THROW(Host::TraceSpec::parse("X/40"), std::invalid_argument);

  EXPECT_EQ(Host::traceMessage("Root.cpp:28 doInit: Bcm53134Agent::doInit"),
            "Bcm53134Agent::doInit");
  // Addresses are masked; register values after 0x are not.
  EXPECT_EQ(Host::maskAddresses("0x55d0c2a8e010::start: page 0x11 val 0x1000 at 0x7ffee1b12520"),
            "ADDR::start: page 0x11 val 0x1000 at ADDR");
}

TEST(TraceOutput, SpecsAsTheFacilitiesTakeThem) {
  // "*" goes first for the facilities, whose later words win.
  auto spec = Host::TraceSpec::parse("HostSpecA/0,1 */8 HostSpecB/0-3,5");
  EXPECT_EQ(spec.handleSpec(), "*/8 HostSpecA/0,1 HostSpecB/0-3,5");
  Kiv::TraceHandle a("HostSpecA"), b("HostSpecB"), c("HostSpecC");
  Kiv::TraceHandle::maskSpecIs(spec.handleSpec());
  EXPECT_EQ(a.mask(), spec.mask("HostSpecA"));
  EXPECT_EQ(b.mask(), spec.mask("HostSpecB"));
  EXPECT_EQ(c.mask(), spec.mask("HostSpecC"));
  spec.maskIs("*", 0);
  EXPECT_EQ(spec.handleSpec(), "*/none");
  Kiv::TraceHandle::maskSpecIs("*/none");
  EXPECT_EQ(Host::levelsText(Kiv::TraceHandle::parseLevels("0-8,10,11,31")), "0-8,10,11,31");
}

// Trace expectations see every line written since a time, though no line is
// kept: the log remembers when each watched text last appeared.
TEST(TraceOutput, TraceLogAnswersExpectationsAndShowsTheDisplayedLevels) {
  TestSupport::resetLoop();
  HostTest::TempDir dir;
  std::string out = dir.path() + "/timeline";
  std::FILE* f = std::fopen(out.c_str(), "w");
  Host::Timeline timeline(f);
  Host::TraceLog log(timeline, Host::TraceSpec::parse("HostLog/0"));
  Kiv::TraceHandle h("HostLog");
  log.watch("link down on port 1");
  log.watch("never written");
  EXPECT_TRUE(log.watching());

  log.write(h, 8, "X.cpp:1 f: 0x55d0c2a8e010::f: link down on port 1");
  TestSupport::advance(5);
  log.write(h, 0, "X.cpp:2 g: link up on port 1");
  EXPECT_TRUE(log.contains("link down on port 1", 0));
  EXPECT_FALSE(log.contains("link down on port 1", 0.5));
  log.write(h, 1, "X.cpp:1 f: 0x55d0c2a8e010::f: link down on port 1 again");
  EXPECT_TRUE(log.contains("link down on port 1", 5));
  EXPECT_FALSE(log.contains("never written", 0));
  EXPECT_FALSE(log.contains("link up on port 1", 0)) << "not watched";

  log.displayIs("HostLog", 0x2);
  log.write(h, 1, "X.cpp:3 h: shown now");
  std::fclose(f);
  EXPECT_EQ(HostTest::readFile(out),
            "     5.000  trace   HostLog/0 link up on port 1\n"
            "     5.000  trace   HostLog/1 shown now\n");
}

}  // namespace
