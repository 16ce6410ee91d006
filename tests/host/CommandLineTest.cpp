// The command line.

#include <unistd.h>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <sstream>

#include "host/Options.h"
#include "host/Session.h"
#include "host/control/ctl/Client.h"
#include "host/show/TraceOutput.h"
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

// The options that agenthost's own tests do not run it with (--trace,
// --status, --netns, --keep-netns and the rest are in HostProcessTest).
TEST(Options, RunAndScenarioModes) {
  auto o = parse({"--scenario", "s.yaml", "--sim-cpu", "--agent", "Other", "--lib-dir", "/x"});
  EXPECT_EQ(o.scenario, "s.yaml");
  EXPECT_EQ(o.session.cpu, Host::CpuRequest::simulated);
  EXPECT_EQ(o.session.agentName, "Other");
  EXPECT_EQ(o.session.libDir, "/x");
  EXPECT_FALSE(o.session.allowHostNetdevs);
  EXPECT_EQ(parse({"--agent-dir", "/usr/lib/agenthost", "a.yaml"}).session.libDir,
            "/usr/lib/agenthost");

  EXPECT_EQ(parse({"a.yaml"}).session.cpu, Host::CpuRequest::automatic);
  EXPECT_TRUE(parse({"--help"}).help);
  EXPECT_TRUE(parse({"--check", "a.yaml"}).check);
  o = parse({"--probe", "a.yaml"});
  EXPECT_TRUE(o.probe);
  EXPECT_EQ(o.appliance, "a.yaml");
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
  EXPECT_EQ(refusal({"--probe", "--scenario", "s.yaml"}),
            "--probe takes an appliance file and no --check or --scenario");
  // The control socket exists only where the loop runs in real time.
  EXPECT_EQ(refusal({"--control", "/tmp/c.sock", "--scenario", "s.yaml"}),
            "a scenario in virtual time has no control socket; add --real-time");
  EXPECT_EQ(refusal({"--real-time", "a.yaml"}),
            "--real-time is for scenarios; an appliance always runs in real time");
  EXPECT_EQ(refusal({"--control", "c.sock", "--no-control", "a.yaml"}),
            "--control and --no-control exclude each other");
  // An empty value never takes the next word as the value.
  for (auto const& [option, noun] :
       std::vector<std::pair<std::string, std::string>>{{"--status", "a file name"},
                                                        {"--trace", "a trace spec"},
                                                        {"--agent", "a name"},
                                                        {"--agent-dir", "a directory"},
                                                        {"--scenario", "a file name"},
                                                        {"--metrics-textfile", "a file name"},
                                                        {"--metrics", "[ADDRESS:]PORT"},
                                                        {"--control", "a path"},
                                                        {"--netns", "a name"}}) {
    EXPECT_EQ(refusal({option + "=", "--check", "a.yaml"}), option + " needs " + noun);
  }
  EXPECT_EQ(refusal({"--status", "", "a.yaml"}), "--status needs a file name");

  // An output never names an input or another output: the same inode where
  // the file exists (here through a link), the same path where not.
  HostTest::TempDir dir;
  auto app = dir.file("app.yaml", "x");
  auto link = dir.path() + "/link.yaml";
  ASSERT_EQ(::symlink(app.c_str(), link.c_str()), 0);
  EXPECT_EQ(refusal({"--status", link, app}),
            "--status " + link + " is the appliance file; an output never replaces an input");
  EXPECT_EQ(refusal({"--metrics-textfile", app, "--scenario", app}),
            "--metrics-textfile " + app + " is the scenario; an output never replaces an input");
  EXPECT_EQ(refusal({"--status", dir.path() + "/./s.json", "--metrics-textfile",
                     dir.path() + "/s.json", app}),
            "--status and --metrics-textfile name one file, " + dir.path() +
                "/s.json; each output needs a file of its own");
  EXPECT_EQ(
      refusal({"--status", dir.path() + "/s.json", "--record", dir.path() + "/./s.json", app}),
      "--status and --record name one file, " + dir.path() +
          "/./s.json; each output needs a file of its own");
  EXPECT_EQ(refusal({"--record", app, app}),
            "--record " + app + " is the appliance file; an output never replaces an input");
  auto fifo = dir.path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(refusal({"--status", fifo, app}),
            "--status " + fifo +
                " is a FIFO; the status file is replaced whole on every change: name a file");
  auto o = parse({"--real-time", "--control=/tmp/c.sock", "--scenario", "s.yaml"});
  EXPECT_TRUE(o.realTime);
  EXPECT_EQ(o.control, "/tmp/c.sock");
}

struct CtlRun {
  int status;
  std::string out, err;
};

CtlRun ctl(std::vector<std::string> const& args) {
  std::ostringstream out, err;
  int status = Host::Ctl::run(args, out, err);
  return {status, out.str(), err.str()};
}

// agentctl reads its own options up to the command; what follows is the
// command's, even when it looks like an option (a negative value, "--").
TEST(AgentctlOptions, OptionsEndAtTheCommand) {
  EXPECT_EQ(ctl({"--frob", "get"}).err, "agentctl: unknown option --frob\nTry agentctl --help.\n");
  EXPECT_EQ(ctl({"--socket"}).err, "agentctl: --socket needs a value\nTry agentctl --help.\n");
  EXPECT_EQ(ctl({"--json=yes", "get"}).err,
            "agentctl: --json takes no value\nTry agentctl --help.\n");
  EXPECT_EQ(ctl({"--json"}).status, 2);
  EXPECT_EQ(ctl({"--socket=", "get"}).err,
            "agentctl: --socket needs a path\nTry agentctl --help.\n");
  EXPECT_EQ(ctl({"-h"}).out.rfind("Usage: agentctl", 0), 0u);
  EXPECT_TRUE(
      std::regex_match(ctl({"--version"}).out, std::regex("agentctl [0-9]+\\.[0-9]+\\.[0-9]+\n")));
  EXPECT_TRUE(parse({"--version"}).version);
  // Past the options, the request is made: no host answers on this path.
  for (auto const& args : std::vector<std::vector<std::string>>{
           {"--socket=/nonexistent/c.sock", "set", "bcm53134Sm.pollPeriod", "-1"},
           {"--socket", "/nonexistent/c.sock", "--", "get", "--json"}}) {
    auto r = ctl(args);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("no control socket at /nonexistent/c.sock"), std::string::npos) << r.err;
  }
}

}  // namespace
