// The status export: one report per event, and the JSON file kept whole.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "host/appliance/StateDb.h"
#include "host/show/StatusExport.h"
#include "host/show/Timeline.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/Loop.h"

namespace {

using Hardware::Bcm53134::LinkStatus;
using HostTest::twoInterfaces;

TEST(StatusExport, ReportsChangesOncePerEventAndKeepsTheJsonFile) {
  TestSupport::resetLoop();
  HostTest::TempDir dir;
  std::string path = dir.path() + "/status.json";
  Host::StateDb db(twoInterfaces());
  std::vector<std::string> reported;
  Host::StatusWatcher w(db.status(), nullptr);
  Host::StatusFollower timeline([&](Host::StatusChange const& c) {
    reported.insert(reported.end(), c.lines.begin(), c.lines.end());
    reported.push_back("--");
  });
  Host::StatusFile file(path);
  w.listenerIs(timeline, "timeline");
  w.listenerIs(file, "status file");
  file.write(w.last(), w.history());
  EXPECT_NE(HostTest::readFile(path).find("\"ports\": {}"), std::string::npos);

  // A port created and set in one event is one change: no transient 0.
  db.status().portIs(1)->linkStatusIs(LinkStatus::linkUp);
  db.status().portIs(2);
  TestSupport::runUntilIdle();
  EXPECT_EQ(reported, (std::vector<std::string>{"port 1 link status 1 (linkUp)",
                                                "port 2 link status 0 (linkDown)", "--"}));
  EXPECT_EQ(HostTest::readFile(path), R"({
  "time": 0.0,
  "error": "",
  "ports": {
    "1": {
      "linkStatus": 1,
      "link": "linkUp",
      "transitions": 0,
      "lastChange": 0.0
    },
    "2": {
      "linkStatus": 0,
      "link": "linkDown",
      "transitions": 0,
      "lastChange": 0.0
    }
  }
}
)");
  // Each change after the first publication is a transition, stamped with
  // its time, and so are its last down and up; a port that stays as it is
  // keeps its history (down since the start, never up).
  TestSupport::advance(3.0);
  db.status().port(1)->linkStatusIs(LinkStatus::linkDown);
  TestSupport::advance(1.5);
  db.status().port(1)->linkStatusIs(LinkStatus::linkUp);
  TestSupport::runUntilIdle();
  EXPECT_EQ(w.history().at(1), (Host::LinkHistory{2, 4.5, 3.0, 4.5}));
  EXPECT_EQ(w.history().at(2), (Host::LinkHistory{0, 0, 0, -1}));
  EXPECT_NE(HostTest::compactJson(path).find(
                R"("1":{"linkStatus":1,"link":"linkUp","transitions":2,"lastChange":4.5})"),
            std::string::npos);
  reported.clear();
  db.status().errorIs("XID 7: Poll error in state readingRegVals: \"bus\"\n");
  db.status().portDelAll();
  TestSupport::runUntilIdle();
  EXPECT_EQ(reported,
            (std::vector<std::string>{"error: XID 7: Poll error in state readingRegVals: \"bus\"\n",
                                      "port 1 removed", "port 2 removed", "--"}));
  EXPECT_NE(HostTest::compactJson(path).find(
                R"("error":"XID 7: Poll error in state readingRegVals: \"bus\"\n")"),
            std::string::npos);

  // Twelve days into the run, the status file's times read back as the loop
  // had them, and the timeline keeps its column of ten.
  db.status().portIs(1)->linkStatusIs(LinkStatus::linkUp);
  TestSupport::advance(12 * 86400 + 0.1234);
  db.status().port(1)->linkStatusIs(LinkStatus::linkDown);
  TestSupport::runUntilIdle();
  auto doc = nlohmann::json::parse(HostTest::readFile(path));
  EXPECT_EQ(doc["time"].get<double>(), TestSupport::now());
  EXPECT_EQ(doc["ports"]["1"]["lastChange"].get<double>(), w.history().at(1).lastChange);
  EXPECT_EQ(w.history().at(1).lastChange, TestSupport::now());

  std::string const timelinePath = dir.path() + "/timeline";
  std::FILE* out = std::fopen(timelinePath.c_str(), "w");
  ASSERT_NE(out, nullptr);
  Host::Timeline(out).line("status", "port 1 link status 0 (linkDown)");
  TestSupport::advance(9e6);
  Host::Timeline(out).line("status", "port 1 link status 1 (linkUp)");
  std::fclose(out);
  EXPECT_EQ(HostTest::readFile(timelinePath),
            "1036804.62  status  port 1 link status 0 (linkDown)\n"
            "10036804.6  status  port 1 link status 1 (linkUp)\n");
}

// Text from elsewhere (the agent's error, a netdevice's name, the kernel's
// trouble) with quotes, control characters and bytes that are not UTF-8
// still makes a file that parses, the bad bytes replaced.
TEST(StatusExport, HostileTextStillMakesJson) {
  Host::StatusSnapshot s;
  s.error = "poll \"error\"\t\x01\xff";
  s.missingNetdevs = {"m\"g\x1b\xc3"};
  s.protodown["p\\d\n\xfe"].trouble = "refused: \x7f\xc0";
  auto doc = nlohmann::json::parse(Host::statusJson(s, {}, 1.0));
  EXPECT_EQ(doc["error"], "poll \"error\"\t\x01\uFFFD");
  EXPECT_EQ(doc["missingCpuNetdevices"][0], "m\"g\x1b\uFFFD");
  EXPECT_EQ(doc["cpuNetdevices"]["p\\d\n\uFFFD"]["restoreTrouble"], "refused: \x7f\uFFFD");
}

TEST(StatusExport, WritesNeverFollowALinkAndSetTheirMode) {
  EXPECT_THROW(Host::writeFileAtomically("/nonexistent/dir/status.json", "{}"), std::runtime_error);
  HostTest::TempDir dir;
  auto victim = dir.file("victim", "precious");
  std::string path = dir.path() + "/status.json";
  // Links planted where a temporary could be looked for, and as the file.
  ASSERT_EQ(::symlink(victim.c_str(), (path + ".tmp" + std::to_string(::getpid())).c_str()), 0);
  ASSERT_EQ(::symlink(victim.c_str(), path.c_str()), 0);
  mode_t umask = ::umask(077);
  Host::writeFileAtomically(path, "{}");
  Host::writeFileAtomically(path, "{1}", 0640);
  ::umask(umask);
  EXPECT_EQ(HostTest::readFile(victim), "precious");
  EXPECT_EQ(HostTest::readFile(path), "{1}");
  struct stat st {};
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  // The victim, the planted link, the file: no temporary left.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            3);
}

}  // namespace
