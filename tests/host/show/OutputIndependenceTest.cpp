// The host's outputs are fed each on its own: a status file and a metrics
// textfile on a file system that has filled up fail, each reported once with
// the kernel's reason, while the timeline and the metrics go on showing every
// change; once there is room again both are written again, and say so.

#include <sched.h>
#include <sys/mount.h>
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

namespace {

// A small tmpfs over `dir`, in a mount namespace of this test process's own,
// so that nothing of it is seen outside; unmounted when the object goes.
// `why` says why there is none, and is empty once it is mounted.
struct PrivateTmpfs {
  explicit PrivateTmpfs(std::string d) : dir(std::move(d)) {
    if (::geteuid() != 0)
      why = "not root";
    else if (::unshare(CLONE_NEWNS) != 0 ||
             ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
             ::mount("agenthost-test", dir.c_str(), "tmpfs", 0, "size=256k") != 0)
      why = std::strerror(errno);
  }
  ~PrivateTmpfs() {
    if (why.empty())
      ::umount2(dir.c_str(), MNT_DETACH);
  }
  // Writes a file until the file system has no room left.
  void fill() const {
    std::FILE* f = std::fopen((dir + "/filler").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::string block(4096, 'x');
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
    }
    std::fclose(f);
  }
  void free() const { ::unlink((dir + "/filler").c_str()); }
  std::string dir, why;
};

std::size_t count(std::string const& text, std::string const& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

TEST(OutputIndependence, AFullFileSystemStopsNoOtherOutputAndIsReportedOnce) {
  HostTest::TempDir dir;
  PrivateTmpfs fs(dir.path());
  if (!fs.why.empty()) {
    char const* req = std::getenv("REQUIRE_NETNS_TESTS");
    if (req && std::string(req) == "1")
      FAIL() << "REQUIRE_NETNS_TESTS=1 but no private tmpfs: " << fs.why;
    GTEST_SKIP() << "no private tmpfs: " << fs.why;
  }
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
