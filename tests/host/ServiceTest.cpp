// The host as a service, in this process in virtual time: what the service
// manager hears on its notification socket (readiness after the first poll
// cycle, the status line, the watchdog's cadence and its silence while poll
// cycles stall, reloads) and what a reload does to the simulated chip.

#include "host/Service.h"

#include <gtest/gtest.h>

#include <fstream>

#include "host/appliance/Appliance.h"
#include "host/attr/AttrPath.h"
#include "platform/kiv/Clock.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/Loop.h"

namespace {

using Hardware::Mdio::Sim::Bcm53134Chip;

struct Note {
  double at;
  std::string text;
};

// The example appliance (two management interfaces, ports 1/5 with CPU
// netdevice mgmt1 and 2/6 without, both links up) from a file of the test's
// own, with the simulated CPU interface manager; the service manager is a
// datagram socket of the test's own and asks for a 4 s watchdog.
class ServiceTest : public ::testing::Test {
 protected:
  ServiceTest()
      : socket_(dir_),
        notifyEnv_("NOTIFY_SOCKET", socket_.path()),
        watchdogEnv_("WATCHDOG_USEC", "4000000"),
        devNull_(std::fopen("/dev/null", "w")),
        timeline_(devNull_) {
    TestSupport::resetLoop();
    file_ = dir_.file("appliance.yaml", example());
    Host::SessionOptions o;
    o.cpu = Host::CpuRequest::simulated;
    session_ = std::make_unique<Host::Session>(Host::loadAppliance(file_), o, timeline_);
    session_->start();
    manager_ = std::make_unique<Host::ServiceManager>();
    service_ = std::make_unique<Host::Service>(
        *session_, *manager_, [this](auto const& t) { said_.push_back(t); },
        [this](auto const& t) { complained_.push_back(t); });
  }
  ~ServiceTest() override {
    service_.reset();
    session_.reset();
    std::fclose(devNull_);
  }

  static std::string example() {
    return HostTest::readFile(std::string(EXAMPLES_DIR) + "/appliance.yaml");
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
  std::FILE* devNull_;
  Host::Timeline timeline_;
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

// Poll steps stop coming (here: the next cycle is a day away, which an
// engineer could set through the control socket): after a minute without one
// the keep-alives stop, so that the service manager restarts the host, and
// they resume once the steps come again.
TEST_F(ServiceTest, KeepAlivesStopWhilePollStepsStopAndResumeWhenTheyComeBack) {
  run(5);
  auto pollPeriod = Host::resolvePath(*session_->root(), "bcm53134Sm.pollPeriod");
  Host::writeAttr(pollPeriod, "86400");
  run(2);
  double stalled = TestSupport::now();
  run(200);
  auto pings = pingsBetween(stalled, stalled + 200);
  ASSERT_FALSE(pings.empty());
  EXPECT_GE(pings.back(), stalled + 60);
  EXPECT_LE(pings.back(), stalled + 64);
  ASSERT_EQ(complained_.size(), 1u);
  EXPECT_EQ(complained_[0].find("no poll step for 6"), 0u) << complained_[0];
  EXPECT_NE(complained_[0].find(": watchdog keep-alives stop"), std::string::npos);

  Host::writeAttr(pollPeriod, "2");
  run(86400);
  EXPECT_FALSE(pingsBetween(stalled + 86400, stalled + 86600).empty());
  ASSERT_EQ(complained_.size(), 2u);
  EXPECT_NE(complained_[1].find("watchdog keep-alives resume"), std::string::npos);
}

TEST_F(ServiceTest, ReloadAppliesAChangedEnabledStateWithinOneCycle) {
  run(5);
  EXPECT_NE(extendedControl(1), 0x3000);
  auto before = notes_.size();
  auto text = example();
  text.replace(text.find("Management1: enabled"), 20, "Management1: disabled");
  rewrite(text);
  service_->reload(file_);
  run(2);
  EXPECT_EQ(extendedControl(1), 0x3000);
  EXPECT_EQ(session_->db().enabledState("Management1"), Interface::IntfEnabledState::disabled);
  auto after = texts(before);
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(stamped(after[0]), "RELOADING=1");
  EXPECT_EQ(after[1], std::string("READY=1\nSTATUS=") + kAllUp);
  EXPECT_EQ(std::vector<std::string>(said_.begin() + 1, said_.end()),
            (std::vector<std::string>{"SIGHUP: reloading " + file_,
                                      "reload: slice1: Management1 enabled -> disabled",
                                      "reload: 1 change applied"}));
  EXPECT_EQ(complained_, std::vector<std::string>{});
}

TEST_F(ServiceTest, ReloadRefusesABadFileOrARestartChangeAndKeepsTheRunningConfiguration) {
  run(5);
  auto const running = extendedControl(1);

  rewrite("switch:\n  bsu: 0\n");
  std::string startupMessage;
  try {
    Host::loadAppliance(file_);
  } catch (Host::InputError const& e) {
    startupMessage = e.what();
  }
  ASSERT_NE(startupMessage, "");
  service_->reload(file_);
  EXPECT_EQ(complained_,
            (std::vector<std::string>{startupMessage,
                                      "reload refused; the running configuration stays in force"}));

  // A file that also changes the chip is refused whole: the enabled state it
  // changes is not applied either.
  complained_.clear();
  auto text = example();
  text.replace(text.find("Management1: enabled"), 20, "Management1: disabled");
  text.replace(text.find("1: up"), 5, "1: down");
  rewrite(text);
  service_->reload(file_);
  EXPECT_EQ(
      complained_,
      (std::vector<std::string>{"reload refused: " + file_ +
                                ": chip.links changed: that needs a restart; nothing from the file "
                                "was applied"}));
  run(4);
  EXPECT_EQ(extendedControl(1), running);
  EXPECT_EQ(session_->db().enabledState("Management1"), Interface::IntfEnabledState::enabled);
  // Each refusal still ends the reload for the service manager.
  auto t = texts();
  EXPECT_EQ(
      std::count_if(t.begin(), t.end(), [](auto const& m) { return m.rfind("READY=1", 0) == 0; }),
      3);
}

}  // namespace
