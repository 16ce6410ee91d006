// The host's outputs are fed each on its own: a status file and a metrics
// textfile on a file system that has filled up fail, each reported once with
// the kernel's reason, while the timeline and the metrics go on showing every
// change; once there is room again both are written again, and say so.

#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "host/Session.h"
#include "platform/bus/sim/SimBcm53134.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/Loop.h"
#include "tests/support/PrivateTmpfs.h"

namespace {

using TestSupport::PrivateTmpfs;

std::size_t count(std::string const& text, std::string const& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

TEST(OutputIndependence, AFullFileSystemStopsNoOtherOutputAndIsReportedOnce) {
  HostTest::TempDir dir;
  PrivateTmpfs fs(dir.path());
  if (!fs.usable())
    GTEST_SKIP() << "no private tmpfs: " << fs.why;
  HostTest::TempDir out;
  std::string const timelinePath = out.path() + "/timeline";
  std::FILE* timelineFile = std::fopen(timelinePath.c_str(), "w");
  ASSERT_NE(timelineFile, nullptr);
  std::string const statusPath = dir.path() + "/status.json";
  std::string const textfile = dir.path() + "/agenthost.prom";
  {
    TestSupport::resetLoop();
    Host::Timeline timeline(timelineFile);
    Host::SessionOptions o;
    o.cpu = Host::CpuRequest::simulated;
    o.allowHostNetdevs = false;
    o.statusFile = statusPath;
    o.metrics = true;
    o.metricsTextfile = textfile;
    Host::Session session(HostTest::twoInterfaces(), o, timeline);
    session.start();
    TestSupport::advance(2.5);
    ASSERT_NE(HostTest::compactJson(statusPath).find("\"linkStatus\":1"), std::string::npos);
    std::map<std::string, std::string> const port1{{"port", "1"}, {"interface", "Management1"}};
    EXPECT_EQ(session.metrics()->sample("agenthost_port_link_up", port1), 1);

    fs.fill();
    // Three changes of port 1's link while the files cannot be written.
    for (bool up : {false, true, false}) {
      session.db().chip().linkIs(1, up);
      TestSupport::advance(4);
    }
    std::fflush(timelineFile);
    auto text = HostTest::readFile(timelinePath);
    EXPECT_EQ(count(text, "port 1 link status 0 (linkDown)"), 2u) << text;
    EXPECT_EQ(count(text, "port 1 link status 1 (linkUp)"), 2u) << text;  // at 0 and 8
    EXPECT_EQ(session.metrics()->sample("agenthost_port_link_up", port1), 0);
    EXPECT_EQ(session.metrics()->sample("agenthost_port_link_transitions_total", port1), 3);
    EXPECT_EQ(count(text, "status file " + statusPath + " failed: cannot write " + statusPath +
                              ": No space left on device; the other outputs go on"),
              1u)
        << text;
    EXPECT_EQ(count(text, "metrics textfile " + textfile + " failed: "), 1u) << text;
    EXPECT_NE(HostTest::compactJson(statusPath).find("\"linkStatus\":1"), std::string::npos);

    // Room again: both are written within their retry, without a change.
    fs.free();
    TestSupport::advance(Host::StatusWatcher::kRetry + 1);
    std::fflush(timelineFile);
    text = HostTest::readFile(timelinePath);
    EXPECT_EQ(count(text, "status file " + statusPath + " works again"), 1u) << text;
    EXPECT_EQ(count(text, "metrics textfile " + textfile + " works again"), 1u) << text;
    EXPECT_NE(HostTest::compactJson(statusPath)
                  .find(R"("1":{"linkStatus":0,"link":"linkDown","transitions":3)"),
              std::string::npos);
    EXPECT_NE(HostTest::readFile(textfile).find(
                  "agenthost_port_link_up{interface=\"Management1\",port=\"1\"} 0"),
              std::string::npos);
  }
  std::fclose(timelineFile);
}

}  // namespace
