// The host as a service, in this process in virtual time: what the service
// manager hears on its notification socket (readiness after the first poll
// cycle, the status line, the watchdog's cadence and its silence while poll
// cycles stall, reloads) and what a reload does to the simulated chip.

#include "host/Service.h"

#include <gtest/gtest.h>

#include <fstream>

#include "host/appliance/Appliance.h"
#include "host/attr/AttrPath.h"
#include "host/control/ControlCommands.h"
#include "platform/kiv/Clock.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/Loop.h"
#include "tests/support/Netns.h"

namespace {

using Hardware::Mdio::Sim::Bcm53134Chip;

struct Note {
  double at;
  std::string text;
};

// The example appliance (two management interfaces, ports 1/5 with CPU
// netdevice mgmt1 and 2/6 without, both links up) from a file of the test's
// own, with the simulated CPU interface manager unless a test asks for a
// private namespace; the service manager is a datagram socket of the
// test's own and asks for a 4 s watchdog. What the service and the
// session's reloads say goes to said_, what they refuse to complained_.
class ServiceTest : public ::testing::Test {
 protected:
  ServiceTest()
      : socket_(dir_),
        notifyEnv_("NOTIFY_SOCKET", socket_.path()),
        watchdogEnv_("WATCHDOG_USEC", "4000000") {
    TestSupport::resetLoop();
    file_ = dir_.file("appliance.yaml", HostTest::exampleAppliance());
  }
  void SetUp() override { start(Host::CpuRequest::simulated); }
  void start(Host::CpuRequest cpu, std::string const& netns = "") {
    Host::SessionOptions o;
    o.cpu = cpu;
    o.netnsName = netns;
    o.applianceFile = file_;
    o.statusFile = dir_.path() + "/status.json";
    o.metrics = true;
    auto say = [this](std::string const& t) { said_.push_back(t); };
    auto complain = [this](std::string const& t) { complained_.push_back(t); };
    session_ = std::make_unique<Host::Session>(Host::loadAppliance(file_), o, *timeline_);
    session_->reportIs(say, complain);
    session_->start();
    manager_ = std::make_unique<Host::ServiceManager>();
    service_ = std::make_unique<Host::Service>(*session_, *manager_, say, complain);
  }
  ~ServiceTest() override {
    service_.reset();
    session_.reset();
  }

  // Runs the loop for dt of virtual time; every notification is kept with
  // the time of the event that sent it.
  void run(double dt) {
    double end = TestSupport::now() + dt;
    TestSupport::runUntil(
        [this] {
          receive();
          return false;
        },
        dt);
    if (TestSupport::now() < end)
      TestSupport::advance(end - TestSupport::now());
    receive();
  }
  void receive() {
    for (auto& m : socket_.receive())
      notes_.push_back({TestSupport::now(), std::move(m)});
  }
  std::vector<double> pingsBetween(double from, double to) const {
    std::vector<double> r;
    for (auto const& n : notes_) {
      if (n.text == "WATCHDOG=1" && n.at >= from && n.at <= to)
        r.push_back(n.at);
    }
    return r;
  }
  std::vector<std::string> texts(std::size_t from = 0) const {
    std::vector<std::string> r;
    for (std::size_t i = from; i < notes_.size(); ++i) {
      if (notes_[i].text != "WATCHDOG=1")
        r.push_back(notes_[i].text);
    }
    return r;
  }
  // The message without its monotonic timestamp, for RELOADING=1.
  static std::string stamped(std::string const& t) {
    return t.substr(0, t.find("\nMONOTONIC_USEC="));
  }
  Bcm53134Chip& chip() { return session_->db().chip(); }
  std::uint16_t extendedControl(unsigned port) {
    return chip().reg(static_cast<Hardware::Mdio::PortAddr>(port), Bcm53134Chip::kExtCtrl);
  }
  void rewrite(std::string const& content) { std::ofstream(file_) << content; }

  HostTest::TempDir dir_;
  HostTest::NotifySocket socket_;
  HostTest::ScopedEnv notifyEnv_, watchdogEnv_;
  HostTest::QuietTimeline timeline_;
  std::string file_;
  std::unique_ptr<Host::Session> session_;
  std::unique_ptr<Host::ServiceManager> manager_;
  std::unique_ptr<Host::Service> service_;
  std::vector<Note> notes_;
  std::vector<std::string> said_, complained_;
};

constexpr char const* kAllUp = "2 management interfaces; links: 1 up, 2 up; error: none";

TEST_F(ServiceTest, ReadyOnceTheFirstPollCycleHasRunThenAKeepAliveEveryHalfInterval) {
  run(10);
  ASSERT_GE(notes_.size(), 3u);
  EXPECT_EQ(notes_[0].text, "STATUS=starting: 2 management interfaces; links: none; error: none");
  // The links the first cycle read from the chip, then ready.
  EXPECT_EQ(notes_[1].text, std::string("STATUS=") + kAllUp);
  EXPECT_EQ(notes_[2].text, std::string("READY=1\nSTATUS=") + kAllUp);
  EXPECT_LT(notes_[2].at, 0.1);
  EXPECT_TRUE(service_->ready());
  EXPECT_EQ(said_, std::vector<std::string>{std::string("ready: ") + kAllUp});
  EXPECT_EQ(pingsBetween(0, 10), (std::vector<double>{2, 4, 6, 8, 10}));
  EXPECT_EQ(texts(3), std::vector<std::string>{});

  // A published change shows in the status line at once.
  chip().linkIs(1, false);
  run(2.5);
  EXPECT_EQ(texts(3), std::vector<std::string>{
                          "STATUS=2 management interfaces; links: 1 down, 2 up; error: none"});
}

// A status line the service manager does not take (its socket gone, as
// while it re-executes) is reported once, and given again every 5 s: the
// manager has the line that is true once it listens again, with no further
// change of status to carry it.
TEST_F(ServiceTest, AStatusLineTheManagerMissedComesAgainOnceItListens) {
  run(5);
  auto const away = socket_.path() + ".away";
  ASSERT_EQ(std::rename(socket_.path().c_str(), away.c_str()), 0);
  chip().linkIs(1, false);
  run(2);
  chip().linkIs(2, false);
  run(2);
  ASSERT_EQ(std::rename(away.c_str(), socket_.path().c_str()), 0);
  auto const before = notes_.size();
  run(5);
  EXPECT_EQ(texts(before),
            std::vector<std::string>{
                "STATUS=2 management interfaces; links: 1 down, 2 down; error: none"});
  EXPECT_EQ(complained_,
            (std::vector<std::string>{
                "service status line failed: cannot send the status line to the service "
                "manager: No such file or directory; the other outputs go on",
                "service status line works again"}));
}

// A long poll period set while running (legal: the agent then waits that
// long between cycles) keeps the keep-alives coming: the stall limit is
// three poll periods, which the manager is told as its interval once it is
// longer than the unit's, and the unit's again when the period is short.
TEST_F(ServiceTest, ALongPollPeriodSetWhileRunningNeverStopsTheKeepAlives) {
  run(5);
  auto pollPeriod = Host::resolvePath(*session_->root(), "bcm53134Sm.pollPeriod");
  Host::writeAttr(pollPeriod, "120");
  auto const from = notes_.size();
  run(600);
  auto pings = pingsBetween(5, 605);
  ASSERT_EQ(pings.size(), 300u);
  EXPECT_EQ(pings.back(), 604);
  EXPECT_EQ(complained_, std::vector<std::string>{});
  EXPECT_EQ(texts(from), std::vector<std::string>{"WATCHDOG_USEC=360000000"});
  // Shorter again: the agent first waits out the cycle the long period
  // armed, which the rule still allows.
  Host::writeAttr(pollPeriod, "2");
  run(130);
  EXPECT_EQ(complained_, std::vector<std::string>{});
  EXPECT_EQ(pingsBetween(605, 735).size(), 65u);
  EXPECT_EQ(texts(from).back(), "WATCHDOG_USEC=4000000");
}

// An agent that stops polling (here its root goes behind the service's
// back): after a minute without a poll step the keep-alives stop, so that
// the service manager restarts the host, and they resume once poll steps
// come again.
TEST_F(ServiceTest, KeepAlivesStopWhilePollStepsStopAndResumeWhenTheyComeBack) {
  run(5);
  session_->stop();
  double stalled = TestSupport::now();
  run(200);
  auto pings = pingsBetween(stalled, stalled + 200);
  ASSERT_FALSE(pings.empty());
  EXPECT_GE(pings.back(), stalled + 60);
  EXPECT_LE(pings.back(), stalled + 64);
  ASSERT_EQ(complained_.size(), 1u);
  EXPECT_EQ(complained_[0].find("no poll step for 6"), 0u) << complained_[0];
  EXPECT_NE(complained_[0].find(": watchdog keep-alives stop"), std::string::npos);

  session_->start();
  run(10);
  EXPECT_FALSE(pingsBetween(stalled + 200, stalled + 210).empty());
  ASSERT_EQ(complained_.size(), 2u);
  EXPECT_NE(complained_[1].find("watchdog keep-alives resume"), std::string::npos);
}

// A reload is applied within one cycle, or refused whole (a file that also
// changes the chip: the enabled state it changes back is not applied
// either); either way it ends with READY=1 for the service manager.
TEST_F(ServiceTest, AReloadIsAppliedWithinOneCycleOrRefusedWhole) {
  run(5);
  EXPECT_NE(extendedControl(1), 0x3000);
  auto const before = notes_.size();
  auto text = HostTest::exampleAppliance();
  text.replace(text.find("Management1: enabled"), 20, "Management1: disabled");
  rewrite(text);
  EXPECT_EQ(session_->reload("SIGHUP").result, Host::ReloadOutcome::Result::applied);
  run(2);
  EXPECT_EQ(extendedControl(1), 0x3000);
  EXPECT_EQ(std::vector<std::string>(said_.begin() + 1, said_.end()),
            (std::vector<std::string>{"SIGHUP: reloading " + file_,
                                      "reload: slice1: Management1 enabled -> disabled",
                                      "reload: 1 change applied"}));

  text.replace(text.find("Management1: disabled"), 21, "Management1: enabled");
  text.replace(text.find("1: up"), 5, "1: down");
  rewrite(text);
  EXPECT_EQ(session_->reload("control socket").result, Host::ReloadOutcome::Result::refused);
  EXPECT_EQ(said_.back(), "control socket: reloading " + file_);
  EXPECT_EQ(
      complained_,
      (std::vector<std::string>{"reload refused: " + file_ +
                                ": chip.links changed: that needs a restart; nothing from the file "
                                "was applied"}));
  run(4);
  EXPECT_EQ(extendedControl(1), 0x3000);
  // Then port 1's transmitter, off with Management1, takes its link down.
  auto after = texts(before);
  ASSERT_EQ(after.size(), 5u);
  for (std::size_t i : {0, 2})
    EXPECT_EQ(stamped(after[i]), "RELOADING=1");
  EXPECT_EQ(after[1], std::string("READY=1\nSTATUS=") + kAllUp);
  EXPECT_EQ(after[3], after[1]);
  EXPECT_EQ(after[4], "STATUS=2 management interfaces; links: 1 down, 2 up; error: none");
}

// A reload that moves Management1 to port 3 and renames Management2: in
// the same cycle, port 1 (left unused, its last status still in the status
// entity) leaves the status line, the status file, show status and the
// metrics, and the metrics of port 2 carry the new name.
TEST_F(ServiceTest, OutputsFollowAReloadsMoveAndRename) {
  run(5);
  // Port 2's auxiliary register cleared behind the agent's back, and read
  // again once Management2's state makes the agent write: one repair,
  // labelled Management2.
  session_->db().chip().regIs(2, 0x30 / 2, 0x0);
  session_->db().enabledStateIs("Management2", Interface::IntfEnabledState::disabled);
  run(6);
  session_->db().enabledStateIs("Management2", Interface::IntfEnabledState::enabled);
  run(6);
  auto repairs = [&](char const* intf) {
    return session_->metrics()->sample(
        "agenthost_register_repairs_total",
        {{"interface", intf}, {"port", "2"}, {"register", "auxControl"}});
  };
  auto const repaired = repairs("Management2");
  ASSERT_TRUE(repaired && *repaired >= 1) << session_->metrics()->text();
  auto text = HostTest::exampleAppliance();
  text.replace(text.find("externalPort: 1"), 15, "externalPort: 3");
  text.replace(text.find("intfId: Management2"), 19, "intfId: Management9");
  rewrite(text);
  EXPECT_EQ(session_->reload("SIGHUP").result, Host::ReloadOutcome::Result::applied);
  run(2.5);
  EXPECT_EQ(manager_->status(), "2 management interfaces; links: 2 up, 3 down; error: none");
  auto file = HostTest::compactJson(dir_.path() + "/status.json");
  EXPECT_EQ(file.find("\"1\":"), std::string::npos) << file;
  EXPECT_NE(file.find("\"3\":{\"linkStatus\":0"), std::string::npos) << file;
  Host::ControlContext control{*session_, Host::handleTraceLevels, Host::handleTraceLevelsIs};
  auto shown = Host::controlCommand(control, {"show", "status"});
  EXPECT_FALSE(shown["result"]["ports"].contains("1")) << shown.dump();
  EXPECT_TRUE(shown["result"]["ports"].contains("3")) << shown.dump();
  auto& m = *session_->metrics();
  auto up = [&](char const* intf, char const* port) {
    return m.sample("agenthost_port_link_up", {{"interface", intf}, {"port", port}});
  };
  EXPECT_EQ(up("Management1", "1"), std::nullopt);
  EXPECT_EQ(up("Management2", "2"), std::nullopt);
  EXPECT_EQ(up("Management9", "2"), 1.0);
  EXPECT_EQ(up("Management1", "3"), 0.0);
  EXPECT_EQ(repairs("Management2"), std::nullopt) << m.text();
  EXPECT_EQ(repairs("Management9"), repaired) << m.text();

  // A CPU netdevice renamed: its series go with the old name.
  text.replace(text.find("cpuInterface: mgmt1"), 19, "cpuInterface: mgmt7");
  rewrite(text);
  EXPECT_EQ(session_->reload("SIGHUP").result, Host::ReloadOutcome::Result::applied);
  run(2.5);
  auto verdict = [&](char const* netdev) {
    return m.sample("agenthost_cpu_netdev_protodown",
                    {{"netdev", netdev}, {"interface", "Management1"}});
  };
  EXPECT_EQ(verdict("mgmt1"), std::nullopt) << m.text();
  EXPECT_EQ(verdict("mgmt7"), 1.0) << m.text();
}

// The agent's CPU netdevices in a private network namespace, as a run
// makes them: a reload that brings a CPU netdevice makes its macvlan before
// the agent hears of it; one whose netdevice cannot be made (its name is
// taken by the namespace's parent device) is undone whole, and still ends
// with READY=1 for the service manager.
class ServiceInNamespaceTest : public ServiceTest {
 protected:
  void SetUp() override {}  // each test starts its own
};

TEST_F(ServiceInNamespaceTest, AReloadMakesTheNewCpuNetdeviceOrIsUndoneWhole) {
  REQUIRE_NETNS();
  std::string ns = "aghtest-reload-" + std::to_string(::getpid());
  start(Host::CpuRequest::netns, ns);
  run(5);
  auto link = [&](std::string const& dev) { return HostTest::ipLink(ns, dev); };
  auto const mgmt = std::string("    - intfId: Management2\n");
  auto text = HostTest::exampleAppliance();
  text.insert(
      text.find(mgmt),
      "    - {intfId: Management3, cpuInterface: mgmt3, externalPort: 3, internalPort: 7}\n");
  rewrite(text);
  auto outcome = session_->reload("SIGHUP");
  EXPECT_EQ(outcome.lines.back(), "reload: 1 change applied");
  EXPECT_NE(link("mgmt3").find("macvlan"), std::string::npos) << link("mgmt3");
  run(3);
  EXPECT_NE(link("mgmt3").find("protodown on"), std::string::npos) << "port 3 is down";

  auto before = notes_.size();
  complained_.clear();
  text.insert(text.find(mgmt),
              "    - {intfId: Management4, cpuInterface: mgmt4, externalPort: 4, internalPort: 0}\n"
              "    - {intfId: Management5, cpuInterface: agh-parent, externalPort: 0, "
              "internalPort: 4}\n");
  rewrite(text);
  outcome = session_->reload("SIGHUP");
  EXPECT_EQ(outcome.result, Host::ReloadOutcome::Result::failed);
  ASSERT_EQ(complained_.size(), 1u);
  EXPECT_EQ(
      complained_[0].rfind("reload failed: CPU netdevice agh-parent cannot be made: ip link add "
                           "agh-parent",
                           0),
      0u)
      << complained_[0];
  EXPECT_NE(complained_[0].find("; what it changed is undone, the running configuration stays in "
                                "force"),
            std::string::npos);
  EXPECT_EQ(outcome.lines.back(), complained_[0]);
  EXPECT_NE(link("mgmt4").find("does not exist"), std::string::npos)
      << "made for the reload, removed with it";
  EXPECT_FALSE(session_->db().mgmtInterfaceKey("Management4"));
  run(1);
  auto after = texts(before);
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(stamped(after[0]), "RELOADING=1");
  EXPECT_EQ(after[1].rfind("READY=1", 0), 0u);
}

// Where the agent acts on the machine's own netdevices (here the test's
// namespace stands for the machine), a cpuInterface that names no netdevice
// is a warning at the start and part of every status output until the
// kernel says it exists.
TEST_F(ServiceInNamespaceTest, AMissingCpuNetdeviceIsInTheStatusUntilItAppears) {
  REQUIRE_NETNS();
  TestSupport::NetNamespace machine;
  auto text = HostTest::exampleAppliance();
  text.replace(text.find("chip:\n"), 6, "netdevices: host\nchip:\n  drivesHostNetdevices: true\n");
  rewrite(text);
  start(Host::CpuRequest::automatic);
  ASSERT_EQ(session_->cpuMode(), Host::CpuMode::hostNetns);
  EXPECT_EQ(session_->cpuNetdevWarnings(),
            std::vector<std::string>{"warning: cpuInterface mgmt1 of Management1 names no "
                                     "netdevice of this machine: the agent cannot put it into "
                                     "protodown until it exists"});
  run(3);
  std::string const missing = kAllUp + std::string("; no CPU netdevice mgmt1");
  EXPECT_EQ(manager_->status(), missing);
  auto file = HostTest::compactJson(dir_.path() + "/status.json");
  EXPECT_NE(file.find("\"missingCpuNetdevices\":[\"mgmt1\"]"), std::string::npos) << file;

  // The kernel's link notification reaches a real-time loop; here the
  // session looks again as it does after every change the host makes.
  machine.ip("link add mgmt1 type veth peer name mgmt1-peer");
  session_->afterHostChange();
  run(1);
  EXPECT_EQ(manager_->status(), kAllUp);
  file = HostTest::readFile(dir_.path() + "/status.json");
  EXPECT_EQ(file.find("missingCpuNetdevices"), std::string::npos) << file;
  machine.ip("link del mgmt1");
  session_->afterHostChange();
  run(1);
  EXPECT_EQ(manager_->status(), missing);
}

}  // namespace
