// Live control: the host's control socket driven by agentctl's own code, in
// virtual time in this process (the test serves the socket between agent
// events) and against an agenthost process in real time.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "host/Session.h"
#include "host/attr/AttrPath.h"
#include "host/control/ControlCommands.h"
#include "host/control/ControlProtocol.h"
#include "host/control/ControlServer.h"
#include "host/control/ctl/Client.h"
#include "host/record/FieldRecord.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/Loop.h"
#include "workbench/control/WorkbenchControl.h"
#include "workbench/scenario/RecordReplay.h"

namespace {

using Json = nlohmann::ordered_json;

struct Ran {
  int status;
  std::string out, err;
};

// The host's pieces as agenthost puts them together for a real-time run,
// on the loop in virtual time: the example appliance, the simulated CPU
// interface manager, the control socket in a directory of the test's own.
class ControlledHost {
 public:
  explicit ControlledHost(std::string const& dir,
                          std::string const& text = HostTest::exampleAppliance()) {
    TestSupport::resetLoop();
    Host::workbenchControlInstall();  // the sim command, as agenthost has it
    Host::SessionOptions o;
    o.cpu = Host::CpuRequest::simulated;
    o.allowHostNetdevs = false;
    o.applianceFile = appliance = dir + "/appliance.yaml";
    std::ofstream(appliance) << text;
    session_ = std::make_unique<Host::Session>(Host::loadAppliance(appliance), o, *timeline_);
    context_ = std::make_unique<Host::ControlContext>(
        Host::ControlContext{*session_, Host::handleTraceLevels, Host::handleTraceLevelsIs});
    path = dir + "/control/agenthost.sock";
    server = std::make_unique<Host::ControlServer>(path, [this](auto const& argv, auto access) {
      return Host::controlCommand(*context_, argv, access);
    });
    session_->start();
    TestSupport::advance(0.5);  // mounted, first cycle done
  }
  ~ControlledHost() {
    server.reset();
    session_.reset();
  }

  // agentctl with these arguments, run on a thread while this thread serves
  // the socket.
  Ran ctl(std::vector<std::string> args) {
    args.insert(args.begin(), {"--socket", path});
    std::ostringstream out, err;
    auto status = std::async(std::launch::async, [&] { return Host::Ctl::run(args, out, err); });
    while (status.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
      server->pollOnce(10);
    return {status.get(), out.str(), err.str()};
  }
  // The text of a command that must succeed.
  std::string ok(std::vector<std::string> args) {
    auto r = ctl(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
  // The error of a command that must be refused.
  std::string refused(std::vector<std::string> args) {
    auto r = ctl(args);
    EXPECT_EQ(r.status, 1) << r.out;
    return r.err;
  }

  Host::Session& session() { return *session_; }
  std::string path, appliance;
  std::unique_ptr<Host::ControlServer> server;

 private:
  HostTest::QuietTimeline timeline_;
  std::unique_ptr<Host::Session> session_;
  std::unique_ptr<Host::ControlContext> context_;
};

constexpr char const* kMgmt1State = "bcm53134Sm.cpuIfMgr.cpuInterface[mgmt1]";

// agentctl reload answers the outcome of the reload it asked for: 0 when
// the file is in force, 1 when it was refused and nothing changed. The
// file's switch.pollPeriod reaches the agent's attribute at start and on a
// reload, also one that finds a period set by hand.
TEST(ControlVirtualTime, ReloadAnswersItsOutcome) {
  HostTest::TempDir dir;
  auto withPeriod = [](std::string text, std::string const& period) {
    return text.replace(text.find("  bus: 0"), 8, "  bus: 0\n  pollPeriod: " + period);
  };
  ControlledHost h(dir.path(), withPeriod(HostTest::exampleAppliance(), "0.5"));
  EXPECT_EQ(h.ok({"get", "bcm53134Sm", "pollPeriod"}), "0.5\n");
  EXPECT_EQ(h.ok({"reload"}), "reload: nothing changed\n");
  h.ok({"set", "bcm53134Sm", "pollPeriod", "1"});
  auto text = withPeriod(HostTest::exampleAppliance(), "3");
  text.replace(text.find("Management1: enabled"), 20, "Management1: disabled");
  std::ofstream(h.appliance) << text;
  EXPECT_EQ(h.ok({"reload"}),
            "reload: slice1: Management1 enabled -> disabled\n"
            "reload: pollPeriod 1 -> 3 s\n"
            "reload: 2 changes applied\n");
  EXPECT_EQ(h.session().db().enabledState("Management1"), Interface::IntfEnabledState::disabled);
  EXPECT_EQ(h.ok({"get", "bcm53134Sm", "pollPeriod"}), "3\n");
  std::ofstream(h.appliance) << "switch:\n  bsu: 0\n";
  EXPECT_EQ(h.refused({"reload"}),
            "agentctl: " + h.appliance +
                ":2: unknown key 'bsu' in switch (known keys: ham, bus, "
                "managementInterfaces, pollPeriod)\n"
                "reload refused; the running configuration stays in force\n");
  EXPECT_EQ(h.refused({"reload", "now"}), "agentctl: usage: reload\n");
  EXPECT_EQ(h.ok({"get", "bcm53134Sm", "pollPeriod"}), "3\n");
}

TEST(ControlVirtualTime, AttributesAreReadAndWrittenThroughTheGenericInterface) {
  HostTest::TempDir dir;
  ControlledHost h(dir.path());
  EXPECT_EQ(h.ok({"get", "bcm53134Sm", "pollPeriod"}), "2\n");
  EXPECT_EQ(h.ok({"get", "bcm53134Sm.state"}), "idle\n");
  EXPECT_EQ(
      h.ok({"get", "bcm53134Sm.registerVal[Bcm53134::Agent::RegisterId(page=0x11, addr=0x30)]",
            "val"}),
      "1072\n");
  EXPECT_EQ(h.ok({"get", kMgmt1State, "state"}), "enabled\n");

  EXPECT_EQ(h.ok({"set", "bcm53134Sm", "pollPeriod", "0.25"}), "bcm53134Sm.pollPeriod = 0.25\n");
  EXPECT_EQ(h.ok({"set", kMgmt1State, "simFail", "true"}),
            std::string(kMgmt1State) + ".simFail = true\n");

  // Refusals say what is wrong and change nothing. (Values out of range are
  // attribute-misuse's; paths that lead nowhere, AttrPathTest's.)
  EXPECT_EQ(h.refused({"set", "bcm53134Sm", "miiStatusRegister", "3"}),
            "agentctl: bcm53134Sm.miiStatusRegister is read-only (constant)\n");
  EXPECT_NE(h.refused({"get", "bcm53134Sm", "pollPeriods"})
                .find("has no attribute pollPeriods; it has: config, status,"),
            std::string::npos);
  EXPECT_NE(h.refused({"call", "bcm53134Sm", "readRegVals"}).find("cannot be called"),
            std::string::npos);
  EXPECT_EQ(h.ok({"get", "bcm53134Sm", "pollPeriod"}), "0.25\n");

  // Operations, and the JSON answer with numbers as numbers.
  auto xid = std::stoul(h.ok({"get", "bcm53134Sm", "xid"}));
  EXPECT_EQ(h.ok({"call", "bcm53134Sm", "nextXid"}), std::to_string(xid + 1) + "\n");
  auto r = h.ctl({"--json", "get", "bcm53134Sm", "xid"});
  EXPECT_EQ(r.status, 0);
  auto j = Json::parse(r.out);
  EXPECT_EQ(j["result"]["value"], xid + 1);
  EXPECT_EQ(j["result"]["type"], "U32");
  // A refusal as JSON: text with quotes, control characters and bytes that
  // are not UTF-8 goes both ways and still makes JSON (the bad bytes
  // replaced); so does a socket path of that kind that leads nowhere.
  r = h.ctl({"--json", "get", "bcm53134Sm", "no\"such\x01\xff"});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(Json::parse(r.out)["ok"].get<bool>());
  EXPECT_NE(Json::parse(r.out)["error"].get<std::string>().find("no\"such\x01\uFFFD"),
            std::string::npos)
      << r.out;
  std::ostringstream out, err;
  EXPECT_EQ(Host::Ctl::run({"--json", "--socket", dir.path() + "/\"\n\xff", "show"}, out, err), 3);
  EXPECT_FALSE(Json::parse(out.str())["ok"].get<bool>()) << out.str();
}

TEST(ControlVirtualTime, ShowAgentAndListGiveTheAgentsTables) {
  HostTest::TempDir dir;
  ControlledHost h(dir.path());
  auto agent = h.ok({"show", "agent"});
  for (char const* row :
       {"\n  state            idle\n", "\n  repollingNeeded  ", "\n  pollPeriod       2\n",
        "\n  id                                                 size  val     "
        "valid  configVal  configValid\n",
        "\n  Bcm53134::Agent::RegisterId(page=0x11, addr=0x20)  2     0x1000  "
        "true   0x1000     true\n",
        "\n  Management2  enabled\n",
        "CPU interface manager: Bcm53134::Agent::TestCpuIfMgr, 1 interface\n",
        "\n  mgmt1      enabled  Bcm53134::Agent::TestCpuInterface  false\n"})
    EXPECT_NE(agent.find(row), std::string::npos) << row << "\nin:\n" << agent;
  auto j = Json::parse(h.ctl({"--json", "show", "agent"}).out)["result"]["stateMachine"];
  EXPECT_EQ(j["registerVal"][0]["val"], 0x1000);
  EXPECT_EQ(j["intfState"]["Management1"], "enabled");

  auto list = h.ok({"list", "bcm53134Sm.cpuIfMgr.cpuInterface[mgmt1]"});
  EXPECT_TRUE(std::regex_search(list, std::regex("\n  simFail +value +bool +rw +false\n"))) << list;
  EXPECT_TRUE(std::regex_search(list, std::regex("\n  enable +operation +x +\\(\\)\n"))) << list;
  EXPECT_NE(h.ok({"list", "."}).find("bcm53134Sm  instantiating"), std::string::npos);
  EXPECT_NE(h.ok({"list", "bcm53134Sm.intfState"}).find("\n  Management1  enabled\n"),
            std::string::npos);
}

// A changed poll period applies from the end of the wait in progress; show
// agent says when that ends, and doPoll polls at once.
TEST(ControlVirtualTime, ShowAgentSaysWhenTheNextPollFallsDue) {
  HostTest::TempDir dir;
  ControlledHost h(dir.path());
  auto due = [&] {
    return Json::parse(
        h.ctl({"--json", "show", "agent"}).out)["result"]["stateMachine"]["nextPoll"];
  };
  h.ok({"set", "bcm53134Sm", "pollPeriod", "86400"});
  TestSupport::advance(2.0);  // the wait under way ends; the next is a day long
  auto far = due();
  ASSERT_TRUE(far.is_object()) << far;
  EXPECT_NEAR(far["in"].get<double>(), 86400 - 0.5, 0.1);
  auto text = h.ok({"show", "agent"});
  EXPECT_TRUE(std::regex_search(
      text, std::regex(R"(\n  next poll +due at 864\d\d\.\d{3} \(in 8639\d\.\d{3} s\)\n)")))
      << text;
  h.ok({"set", "bcm53134Sm", "pollPeriod", "2"});
  EXPECT_EQ(due()["at"], far["at"]) << "the wait under way is not shortened";
  auto& chip = h.session().db().chip();
  auto reads = chip.miiStatusReadsTotal();
  EXPECT_EQ(h.ok({"call", "bcm53134Sm", "doPoll"}), "called bcm53134Sm.doPoll\n");
  TestSupport::advance(0.5);
  EXPECT_GT(chip.miiStatusReadsTotal(), reads) << "polled at once";
  EXPECT_LT(due()["in"].get<double>(), 2.0) << "and the next wait is the new period";
}

// What a change does to the output is in ScenarioInRealTimeIsDrivenThroughAgentctl.
TEST(ControlVirtualTime, TraceLevelsChangeWhileRunning) {
  HostTest::TempDir dir;
  ControlledHost h(dir.path());
  EXPECT_EQ(h.ok({"trace", "Bcm53134Agent", "0,8"}), "Bcm53134Agent levels 0,8\n");
  EXPECT_NE(h.ok({"trace"}).find("Bcm53134Agent  0,8\n"), std::string::npos);
  h.ok({"trace", "Bcm53134Agent", "none"});
  EXPECT_NE(h.ok({"trace"}).find("Bcm53134Agent  none\n"), std::string::npos) << h.ok({"trace"});
  EXPECT_NE(h.refused({"trace", "Nosuch", "0"}).find("facilities: Bcm53134Agent, CpuIfMgr"),
            std::string::npos);
  EXPECT_NE(h.refused({"trace", "CpuIfMgr", "40"}).find("bad trace level '40'"), std::string::npos);
}

// The worst case: the link drops right after a cycle. The next cycle comes
// one poll period later and finds it at once.
TEST(ControlVirtualTime, SimulatedLinkDownLeadsToProtodownWithinAPollPeriodAndACycle) {
  HostTest::TempDir dir;
  ControlledHost h(dir.path());
  auto mgmt1 = [&] {
    auto v =
        Host::readAttr(Host::resolvePath(*h.session().root(), std::string(kMgmt1State) + ".state"));
    return v.text();
  };
  double period = 2.0, cycle = 0.01;
  auto& chip = h.session().db().chip();
  auto reads = chip.miiStatusReadsTotal();
  ASSERT_TRUE(TestSupport::runUntil([&] { return chip.miiStatusReadsTotal() > reads; }, period));
  TestSupport::runUntilIdle();
  EXPECT_EQ(h.ok({"sim", "link", "1", "down"}), "link 1 down\n");
  double t0 = TestSupport::now();
  ASSERT_TRUE(TestSupport::runUntil([&] { return mgmt1() == "disabled"; }, period + cycle));
  EXPECT_GT(TestSupport::now() - t0, period - cycle) << "found at the next cycle, not sooner";
  EXPECT_EQ(h.ok({"get", kMgmt1State, "state"}), "disabled\n");
  // With its history: one transition, the last down at the time the next
  // cycle published it, the last up at the start.
  char down[128];
  std::snprintf(down, sizeof down, "\nManagement1  1/5    linkDown  %.3f", TestSupport::now());
  auto const shown = h.ok({"show", "status"});
  EXPECT_NE(shown.find(down), std::string::npos) << shown;
  EXPECT_NE(shown.find(" 0.000   1            mgmt1 "), std::string::npos) << shown;

  h.ok({"sim", "link", "1", "up"});
  ASSERT_TRUE(TestSupport::runUntil([&] { return mgmt1() == "enabled"; }, period + cycle));

  // A register changed behind the agent's back, and failing accesses that
  // the next re-read runs into.
  EXPECT_EQ(h.ok({"sim", "reg", "0x11", "0x30", "0x0"}),
            "chip port 1 auxControl set to 0x0 behind the agent's back\n");
  EXPECT_EQ(chip.reg(1, 0x18), 0u);
  h.ok({"sim", "fail", "1", "MDIO", "bus", "timeout"});
  h.ok({"set", "bcm53134Sm", "repollingNeeded", "true"});
  TestSupport::advance(period + cycle);
  EXPECT_TRUE(
      std::regex_search(h.ok({"show", "status"}), std::regex("error: XID .*: MDIO bus timeout\n")));
  EXPECT_NE(h.refused({"sim", "reg", "0x20", "0x30", "0x0"}).find("PAGE must be 0x10 to 0x17"),
            std::string::npos);
  EXPECT_NE(h.refused({"sim", "link", "8", "down"}).find("PORT must be a number from 0 to 7"),
            std::string::npos);
}

// A bus record started and ended by hand holds the cycles between; one
// record at a time.
TEST(ControlVirtualTime, ABusRecordIsStartedAndStoppedByHand) {
  HostTest::TempDir dir;
  ControlledHost h(dir.path());
  std::string record = dir.path() + "/field.jsonl";
  EXPECT_EQ(h.ok({"record", "start", record, "64k"}),
            "recording every MDIO bus access to " + record + " (size limit 65536 bytes)\n");
  h.refused({"record", "start", record});
  EXPECT_EQ(h.ok({"sim", "link", "1", "down"}), "link 1 down\n");
  TestSupport::advance(3);
  EXPECT_EQ(h.ok({"record", "stop"}).rfind("record " + record + ": ", 0), 0u);
  auto rec = Host::loadBusRecord(record);
  EXPECT_FALSE(rec.fromStart);
  EXPECT_EQ(rec.endReason, "stopped");
  bool sawDown = false;
  for (auto const& a : rec.accesses)
    sawDown = sawDown || (a.phy == 1 && a.reg == 1 && !(a.value & 0x4) && a.error.empty());
  EXPECT_TRUE(sawDown) << "the link drop is in the record";
}

// A new non-blocking connection to the host's socket.
int connectTo(ControlledHost const& h) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strcpy(a.sun_path, h.path.c_str());
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  return fd;
}

// Sends bytes on a new connection and reads until the host closes it or
// the time is up, serving the socket meanwhile.
std::string talk(ControlledHost& h, std::string const& bytes) {
  int fd = connectTo(h);
  std::size_t sent = 0;
  std::string got;
  for (int i = 0; i < 300; ++i) {
    if (sent < bytes.size()) {
      auto n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      sent += n > 0 ? static_cast<std::size_t>(n) : 0;
      if (sent == bytes.size())
        ::shutdown(fd, SHUT_WR);
    }
    h.server->pollOnce(10);
    char buf[4096];
    auto n = ::recv(fd, buf, sizeof buf, 0);
    if (n == 0)
      break;
    if (n > 0)
      got.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return got;
}

TEST(ControlSocket, OneAnswerPerLineBoundedRequestsAndNoWaitForSlowClients) {
  HostTest::TempDir dir;
  ControlledHost h(dir.path());
  // Two requests in one write, then the connection's end: two answers.
  auto two = talk(h, "{\"argv\": [\"get\", \"bcm53134Sm.pollPeriod\"]}\n[1]\n");
  EXPECT_EQ(two,
            "{\"ok\":true,\"text\":\"2\",\"result\":{\"path\":\"bcm53134Sm.pollPeriod\",\"type\":"
            "\"Kiv::Seconds\",\"value\":2.0,\"text\":\"2\"}}\n"
            "{\"ok\":false,\"error\":\"bad request: expected {\\\"argv\\\": [...]}\"}\n");
  auto tooLong = talk(h, std::string(Host::Control::kMaxRequestBytes + 10, 'x'));
  EXPECT_EQ(tooLong, "{\"ok\":false,\"error\":\"request longer than 65536 bytes\"}\n");

  // A client that asks and asks but never reads: the host stops reading
  // from it, goes on with its own work, and drops it once the answer has
  // waited too long.
  int fd = connectTo(h);
  std::string many;
  for (int i = 0; i < 2000; ++i)
    many += "{\"argv\": [\"show\", \"agent\"]}\n";
  std::size_t sent = 0;
  for (int i = 0; i < 200; ++i) {
    auto n = ::send(fd, many.data() + sent, many.size() - sent, MSG_NOSIGNAL);
    sent += n > 0 ? static_cast<std::size_t>(n) : 0;
    h.server->pollOnce(0);
  }
  EXPECT_EQ(h.server->connections(), 1u);
  auto reads = h.session().db().chip().miiStatusReadsTotal();
  TestSupport::advance(Host::ControlServer::kStuckTimeout + 1);
  EXPECT_EQ(h.server->connections(), 0u);
  EXPECT_GT(h.session().db().chip().miiStatusReadsTotal(), reads) << "the agent ran on";
  ::close(fd);
}

TEST(ControlSocket, SocketFileIsOwnedRemovedAndNotTakenFromALiveHost) {
  TestSupport::resetLoop();
  HostTest::TempDir dir;
  auto handler = [](auto const&, auto) { return Json{{"ok", true}}; };
  std::string path = dir.path() + "/run/c.sock";
  {
    Host::ControlServer s(path, handler);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    ASSERT_EQ(::stat((dir.path() + "/run").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    try {
      Host::ControlServer second(path, handler);
      ADD_FAILURE() << "a second server took the path";
    } catch (Host::ControlSocketBusy const& e) {
      EXPECT_EQ(std::string(e.what()), "another host answers on " + path);
    }
  }
  EXPECT_NE(::access(path.c_str(), F_OK), 0);
  EXPECT_NE(::access((dir.path() + "/run").c_str(), F_OK), 0) << "the directory it made";

  // A socket file left by a host that died is replaced; a file that is not
  // a socket is not touched.
  int left = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::string stale = dir.path() + "/stale.sock";
  std::strcpy(a.sun_path, stale.c_str());
  ASSERT_EQ(::bind(left, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ::close(left);
  { Host::ControlServer s(stale, handler); }
  auto plain = dir.file("plain", "data");
  EXPECT_THROW(Host::ControlServer(plain, handler), std::runtime_error);
  EXPECT_EQ(HostTest::readFile(plain), "data");
}

// As root, a child that has become another user connects: refused by the
// directory's and the socket file's modes, and, were they opened up by
// mistake, by the host's check of the peer's credentials. A member of the
// socket's group (a supplementary group, as logging in gives it) may look
// and is refused each command that changes something.
TEST(ControlSocket, AnotherUserIsRefusedAndTheGroupOnlyLooks) {
  if (::geteuid() != 0) {
    char const* req = std::getenv("REQUIRE_NETNS_TESTS");
    if (req && std::string(req) == "1")
      FAIL() << "REQUIRE_NETNS_TESTS=1 but not root: the refusal of another user is not tested";
    GTEST_SKIP() << "needs root to act as another user";
  }
  HostTest::TempDir dir;
  ControlledHost h(dir.path());
  struct stat st {};
  ASSERT_EQ(::stat(h.path.c_str(), &st), 0);
  gid_t const group = st.st_gid;
  // Each request's answer (its error, or "ok") or why there was none, from
  // uid 65534 with the given supplementary groups.
  auto asNobody = [&](std::vector<gid_t> groups, std::vector<std::vector<std::string>> requests) {
    int pipeFds[2];
    EXPECT_EQ(::pipe(pipeFds), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
      ::close(pipeFds[0]);
      if (::setgroups(groups.size(), groups.data()) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
          ::setresuid(65534, 65534, 65534) != 0)
        ::_exit(20);
      std::string all;
      for (auto const& argv : requests) {
        try {
          auto r = Host::Ctl::request(h.path, argv, 5);
          all += r["ok"].get<bool>() ? "ok" : r.value("error", std::string("?"));
        } catch (Host::Ctl::NoAnswer const& e) {
          all += std::string("no answer: ") + e.what();
        }
        all += "\n";
      }
      [[maybe_unused]] auto n = ::write(pipeFds[1], all.data(), all.size());
      ::_exit(0);
    }
    ::close(pipeFds[1]);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0)
      h.server->pollOnce(10);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;)
      out.append(buf, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    return out;
  };
  std::vector<std::string> const set = {"set", "bcm53134Sm", "pollPeriod", "9"};
  EXPECT_EQ(asNobody({}, {set}),
            "no answer: " + h.path +
                ": permission denied (the control socket is for the host's user, root, and to "
                "look, the members of its group)\n");
  ::chmod(dir.path().c_str(), 0755);
  ::chmod((dir.path() + "/control").c_str(), 0755);
  ::chmod(h.path.c_str(), 0666);
  EXPECT_EQ(asNobody({}, {set}),
            "refused: uid 65534 is neither this host's user (uid 0) nor "
            "root, nor a member of the socket's group (gid " +
                std::to_string(group) + ")\n");
  ::chmod(h.path.c_str(), 0660);
  auto const traceBefore = h.ok({"trace"});
  std::string const refusal =
      " changes the running host: only root and the host's own user may; members of its group "
      "may look (show, get, list, help; trace, record without words)\n";
  EXPECT_EQ(asNobody({65533, group}, {{"show", "status"},
                                      {"get", "bcm53134Sm", "pollPeriod"},
                                      {"list", "bcm53134Sm"},
                                      {"record"},
                                      {"trace"},
                                      {"help"},
                                      set,
                                      {"call", "bcm53134Sm", "readRegVals"},
                                      {"sim", "link", "1", "down"},
                                      {"reload"},
                                      {"hold", "mgmt1", "off"},
                                      {"record", "start", dir.path() + "/r.jsonl"},
                                      {"record", "stop"},
                                      {"trace", "CpuIfMgr", "0-8"},
                                      {"frobnicate"}}),
            "ok\nok\nok\nok\nok\nok\nset" + refusal + "call" + refusal + "sim" + refusal +
                "reload" + refusal + "hold" + refusal + "record start" + refusal + "record stop" +
                refusal + "trace CpuIfMgr" + refusal +
                "unknown command 'frobnicate'; the commands are: show, get, set, call, list, "
                "trace, sim, reload, record, hold, help\n");
  EXPECT_EQ(h.ok({"get", "bcm53134Sm", "pollPeriod"}), "2\n") << "nothing was done for them";
  EXPECT_EQ(h.ok({"trace"}), traceBefore);
  EXPECT_NE(::access((dir.path() + "/r.jsonl").c_str(), F_OK), 0);
}

using HostTest::agentctl;
using HostTest::HostProcess;
using HostTest::until;

// A scenario in real time takes commands too: the trace shown on its
// timeline changes, and an expectation sees a value set by hand.
TEST(ControlRealTime, ScenarioInRealTimeIsDrivenThroughAgentctl) {
  HostTest::TempDir dir;
  std::string sock = dir.path() + "/c.sock";
  auto sc = dir.file("live.yaml", "appliance: " + std::string(EXAMPLES_DIR) + R"(/appliance.yaml
trace: Bcm53134Agent/0 CpuIfMgr/0
end: 4.0
steps:
  - at: 4.0
    expect: {attr: bcm53134Sm.pollPeriod, value: 0.5}
)");
  HostProcess host(dir, {"--sim-cpu", "--real-time", "--control", sock, "--scenario", sc});
  ASSERT_TRUE(until(
      [&] {
        return agentctl(sock, {"get", kMgmt1State, "state"}).out == "enabled\n";
      },
      3))
      << host.out() << host.err();
  EXPECT_EQ(agentctl(sock, {"trace", "CpuIfMgr", "0-8"}).out, "CpuIfMgr levels 0-8\n");
  EXPECT_EQ(agentctl(sock, {"set", "bcm53134Sm.pollPeriod", "0.5"}).status, 0);
  EXPECT_EQ(host.wait(), 0) << host.out();
  auto out = host.out();
  EXPECT_NE(out.find("control trace CpuIfMgr/0-8"), std::string::npos) << out;
  EXPECT_NE(out.find("trace   CpuIfMgr/8 "), std::string::npos) << out;
  EXPECT_NE(out.find("expect  bcm53134Sm.pollPeriod = 0.5 ... ok"), std::string::npos) << out;
  EXPECT_NE(out.find("result: 1 passed, 0 failed"), std::string::npos) << out;
}

}  // namespace
