// Where a record may be written: agenthost in real time with its control
// socket and status file, asked by agentctl to record into a FIFO, over a
// file that holds data, over the run's own status file, and under a relative
// name or in /var/tmp as the service runs it.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "host/os/Command.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/Emulation.h"

namespace {

using HostTest::HostProcess;
using HostTest::TempDir;
using HostTest::until;

struct Ctl {
  int status;
  std::string out;
};

// agentctl, given ten seconds: a host that is stuck does not hang the test.
Ctl ctl(std::string const& socket, std::vector<std::string> args) {
  args.insert(args.begin(), {AGENTCTL_BIN, "--socket", socket});
  args = TestSupport::underEmulator(std::move(args));
  args.insert(args.begin(), {"timeout", "10"});
  Ctl r{};
  r.status = ::Host::runProgram(args, &r.out);
  return r;
}

TEST(RecordFiles, ARecordIsOnlyWrittenToANewFileThatIsNoOtherFileOfTheRun) {
  TempDir dir;
  std::string const socket = dir.path() + "/ctl.sock";
  std::string const status = dir.path() + "/status.json";
  std::string const textfile = dir.path() + "/agenthost.prom";
  // The test's directory is the state directory the service would give.
  HostProcess h(dir,
                {"--sim-cpu", "--control", socket, "--status", status, "--metrics-textfile",
                 textfile, std::string(EXAMPLES_DIR) + "/appliance.yaml"},
                [&] { ::setenv("STATE_DIRECTORY", dir.path().c_str(), 1); });
  ASSERT_TRUE(until([&] { return ctl(socket, {"record"}).status == 0; }, 30)) << h.err();

  // A FIFO nobody reads: refused at once, and the host goes on answering.
  std::string const fifo = dir.path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto r = ctl(socket, {"record", "start", fifo});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("record " + fifo + " is a FIFO; a record is only written to a new file"),
            std::string::npos)
      << r.out;

  // A file with data keeps it.
  auto kept = dir.file("kept.jsonl", "an earlier record\n");
  r = ctl(socket, {"record", "start", kept});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("exists already (18 bytes, left as it is)"), std::string::npos) << r.out;
  EXPECT_EQ(HostTest::readFile(kept), "an earlier record\n");

  // The run's own outputs, by another name too (a symbolic link to the
  // directory), whether they exist yet or not.
  ASSERT_EQ(::symlink(dir.path().c_str(), (dir.path() + "/again").c_str()), 0);
  for (auto const& [path, what] :
       {std::pair{dir.path() + "/again/status.json", "the status file"},
        std::pair{textfile, "the metrics textfile"}, std::pair{socket, "the control socket"}}) {
    r = ctl(socket, {"record", "start", path});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(std::string(" is ") + what + " of this run"), std::string::npos) << r.out;
  }
  EXPECT_NE(HostTest::readFile(status).find("\"linkStatus\""), std::string::npos);

  // A record that is allowed still works, and ends whole.
  std::string const good = dir.path() + "/good.jsonl";
  r = ctl(socket, {"record", "start", good});
  EXPECT_EQ(r.status, 0) << r.out;
  r = ctl(socket, {"record", "stop"});
  EXPECT_EQ(r.status, 0) << r.out;

  // As under the service (which gives the host $STATE_DIRECTORY), a relative
  // name lands in the state directory, and the service's own /var/tmp,
  // removed at its stop, is refused.
  r = ctl(socket, {"record", "start", "/var/tmp/field.jsonl"});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("are its own and are removed when it stops; name a file in " + dir.path()),
            std::string::npos)
      << r.out;
  r = ctl(socket, {"record", "start", "field.jsonl"});
  EXPECT_EQ(r.out, "recording every MDIO bus access to " + dir.path() +
                       "/field.jsonl (size limit 4194304 bytes)\n");
  h.signal(SIGTERM);
  EXPECT_EQ(h.wait(), 0) << h.out() << h.err();
  EXPECT_NE(HostTest::readFile(good).find("\"end\":\"stopped\""), std::string::npos);
  EXPECT_NE(HostTest::readFile(dir.path() + "/field.jsonl").find("\"end\":\"stopped\""),
            std::string::npos);

  // At the start, on the command line (the options' own refusals are
  // CommandLineTest's), a name that is taken is the user's to change: status
  // 2, which the service does not restart on.
  HostProcess taken(dir, {"--sim-cpu", "--no-control", "--record", good,
                          std::string(EXAMPLES_DIR) + "/appliance.yaml"});
  EXPECT_EQ(taken.wait(), 2) << taken.err();
  EXPECT_NE(taken.err().find("record " + good + " exists already"), std::string::npos)
      << taken.err();
}

}  // namespace
