// agenthost started the way a service manager starts it: the notification
// socket and watchdog interval in its environment, its output on the
// journal's stream, SIGHUP to reload and SIGTERM to stop. Real time, so
// every wait polls with a generous limit and nothing asserts on timing.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "tests/host/HostTestSupport.h"

namespace {

using HostTest::HostProcess;
using HostTest::ScopedEnv;
using HostTest::until;

std::string example() {
  return HostTest::readFile(std::string(EXAMPLES_DIR) + "/appliance.yaml");
}

// JOURNAL_STREAM naming the file, as the service manager names its stream.
std::string journalStreamOf(std::string const& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

class Notes {
 public:
  explicit Notes(HostTest::NotifySocket& s) : socket_(s) {}
  // Waits until a message that starts with the text has come after the
  // `from`th one; returns its index, or -1.
  int waitFor(std::string const& start, std::size_t from = 0) {
    int found = -1;
    until(
        [&] {
          for (auto& m : socket_.receive())
            all.push_back(std::move(m));
          for (std::size_t i = from; i < all.size() && found < 0; ++i) {
            if (all[i].rfind(start, 0) == 0)
              found = static_cast<int>(i);
          }
          return found >= 0;
        },
        30);
    return found;
  }
  std::vector<std::string> all;

 private:
  HostTest::NotifySocket& socket_;
};

TEST(AgentHostService, NotifiesReadinessKeepAliveReloadAndStopAndWritesForTheJournal) {
  HostTest::TempDir dir;
  HostTest::NotifySocket socket(dir);
  auto file = dir.file("appliance.yaml", example());
  dir.file("stdout", "");
  ScopedEnv notify("NOTIFY_SOCKET", socket.path());
  ScopedEnv watchdog("WATCHDOG_USEC", "400000");
  ScopedEnv journal("JOURNAL_STREAM", journalStreamOf(dir.path() + "/stdout"));
  HostProcess h(dir, {"--sim-cpu", "--no-control", file});
  Notes notes(socket);

  int ready = notes.waitFor("READY=1");
  ASSERT_GE(ready, 0) << h.out() << h.err();
  EXPECT_EQ(notes.all[static_cast<std::size_t>(ready)],
            "READY=1\nSTATUS=2 management interfaces; links: 1 up, 2 up; error: none");
  int ping = notes.waitFor("WATCHDOG=1", static_cast<std::size_t>(ready));
  ASSERT_GE(ping, 0);
  ASSERT_GE(notes.waitFor("WATCHDOG=1", static_cast<std::size_t>(ping) + 1), 0);

  auto text = example();
  text.replace(text.find("Management1: enabled"), 20, "Management1: disabled");
  std::ofstream(file) << text;
  h.signal(SIGHUP);
  int reloading = notes.waitFor("RELOADING=1\nMONOTONIC_USEC=", static_cast<std::size_t>(ready));
  ASSERT_GE(reloading, 0) << h.out() << h.err();
  EXPECT_GE(notes.waitFor("READY=1", static_cast<std::size_t>(reloading)), 0);
  ASSERT_TRUE(until(
      [&] { return h.out().find("<6>agenthost: reload: 1 change applied\n") != std::string::npos; },
      30))
      << h.out();

  h.signal(SIGTERM);
  EXPECT_EQ(h.wait(), 0) << h.err();
  EXPECT_GE(notes.waitFor("STOPPING=1", static_cast<std::size_t>(reloading)), 0);

  // On the journal's stream every line carries its priority and no time of
  // the host's own; the trace on stderr, not the journal here, keeps its.
  auto out = h.out();
  EXPECT_NE(out.find("<6>agenthost: reload: slice1: Management1 enabled -> disabled\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("<5>status  port 1 link status 1 (linkUp)\n"), std::string::npos) << out;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    EXPECT_TRUE(line.rfind("<6>", 0) == 0 || line.rfind("<5>", 0) == 0) << line;
  auto err = h.err();
  EXPECT_NE(err.find(" Bcm53134SmPoll.cpp:"), std::string::npos) << err;
  EXPECT_EQ(err.find("<"), std::string::npos) << err;
}

TEST(AgentHostService, RefusalsOnTheJournalsStreamAreErrors) {
  HostTest::TempDir dir;
  auto bad = dir.file("bad.yaml", "switch:\n  bsu: 0\n");
  dir.file("stderr", "");
  ScopedEnv journal("JOURNAL_STREAM", journalStreamOf(dir.path() + "/stderr"));
  HostProcess h(dir, {bad});
  EXPECT_EQ(h.wait(), 2);
  EXPECT_EQ(h.err(), "<3>agenthost: " + bad +
                         ":2: unknown key 'bsu' in switch (known keys: ham, bus, "
                         "managementInterfaces)\n");
}

}  // namespace
