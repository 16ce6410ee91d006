// Trace specs, trace line handling and the trace log.

#include <gtest/gtest.h>

#include "host/show/Timeline.h"
#include "host/show/TraceOutput.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/Loop.h"

namespace {

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

  // Specs as the facilities take them: "*" goes first for the facilities,
  // whose later words win.
  spec = Host::TraceSpec::parse("HostSpecA/0,1 */8 HostSpecB/0-3,5");
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
