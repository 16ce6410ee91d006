// The host's metrics on the whole agent in virtual time: a repaired
// register, the textfile, and a steady cycle that allocates nothing with
// metrics on. (Link history from flaps is the link-flaps-in-metrics
// scenario; the textfile's syntax, HostProcessTest's parse and
// node_exporter in tests/monitoring.)

#include "host/show/Metrics.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "host/Session.h"
#include "platform/bus/sim/SimBcm53134.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/AllocCounter.h"
#include "tests/support/Loop.h"

namespace {

using Labels = std::map<std::string, std::string>;

// The two-interface appliance (ports 1/5 with CPU netdevice mgmt1, 2/6
// without; port 1 up) with the simulated CPU interface manager, metrics on
// and a textfile in the test's directory; started and through its first
// cycle.
class MetricsHost : public ::testing::Test {
 protected:
  MetricsHost() {
    TestSupport::resetLoop();
    Host::SessionOptions o;
    o.cpu = Host::CpuRequest::simulated;
    o.allowHostNetdevs = false;
    o.metrics = true;
    o.metricsTextfile = textfile;
    session_ = std::make_unique<Host::Session>(HostTest::twoInterfaces(), o, *timeline_);
    session_->start();
    TestSupport::advance(0.5);
  }

  Host::Metrics& metrics() { return *session_->metrics(); }
  Hardware::Mdio::Sim::Bcm53134Chip& chip() { return session_->db().chip(); }
  Host::StateDb& session_db() { return session_->db(); }
  double value(std::string const& name, Labels const& labels = {}) {
    auto v = metrics().sample(name, labels);
    EXPECT_TRUE(v) << name << " has no sample; the metrics are:\n" << metrics().text();
    return v.value_or(-1);
  }

  HostTest::TempDir dir;
  std::string textfile = dir.path() + "/agenthost.prom";

 private:
  HostTest::QuietTimeline timeline_;
  std::unique_ptr<Host::Session> session_;
};

TEST_F(MetricsHost, RepairedAuxRegisterCountsOneRepairAndFailuresCountApart) {
  Labels const aux{{"port", "1"}, {"register", "auxControl"}, {"interface", "Management1"}};
  TestSupport::advance(4.0);
  double const before = value("agenthost_register_repairs_total", aux);
  // Port 1's auxiliary register is cleared behind the agent's back and the
  // next read of its extended control returns a reserved bit; enabling
  // Management2 makes the agent write (port 2's transmitter) and so read
  // every register again in the cycle after.
  chip().regIs(1, 0x30 / 2, 0x0);
  chip().readValueIs(1, 0x20 / 2, 0x4000);
  session_db().enabledStateIs("Management2", Interface::IntfEnabledState::enabled);
  auto& loop = Kiv::EventLoop::instance();
  auto implausible = [&] {
    return metrics().sample("agenthost_register_transactions_implausible_total", {}) == 1.0;
  };
  ASSERT_TRUE(loop.runUntil(implausible, loop.now() + 10));
  TestSupport::runUntilIdle();  // the status published in the same instant
  EXPECT_EQ(value("agenthost_error"), 1);
  TestSupport::advance(10.0);
  EXPECT_EQ(value("agenthost_register_repairs_total", aux), before + 1);
  EXPECT_EQ(value("agenthost_register_transactions_implausible_total"), 1);
  EXPECT_EQ(value("agenthost_error"), 0);

  // A failed access counts apart.
  EXPECT_EQ(value("agenthost_register_transactions_failed_total"), 0);
  chip().failNextAccesses(1, "MDIO bus timeout");
  session_db().enabledStateIs("Management2", Interface::IntfEnabledState::disabled);
  TestSupport::advance(10.0);
  EXPECT_EQ(value("agenthost_register_transactions_failed_total"), 1);
  EXPECT_EQ(value("agenthost_register_repairs_total", aux), before + 1);
}

ino_t inode(std::string const& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST_F(MetricsHost, TextfileIsReplacedWholeAtMostOnceASecond) {
  chip().linkIs(1, false);
  TestSupport::advance(4.0);
  ino_t const first = inode(textfile);
  EXPECT_NE(HostTest::readFile(textfile).find(
                "agenthost_port_link_up{interface=\"Management1\",port=\"1\"} 0\n"),
            std::string::npos)
      << HostTest::readFile(textfile);
  // Two changes within a second: the first is written at once, by a new
  // file renamed over the old one (a new inode); the second waits until a
  // second has passed since.
  std::string const kernel =
      "agenthost_cpu_netdev_kernel_protodown{interface=\"Management1\","
      "netdev=\"mgmt1\"} ";
  metrics().kernelProtodownIs("mgmt1", true);
  TestSupport::advance(0.01);
  ino_t const second = inode(textfile);
  EXPECT_NE(second, first);
  EXPECT_NE(HostTest::readFile(textfile).find(kernel + "1\n"), std::string::npos);
  metrics().kernelProtodownIs("mgmt1", false);
  TestSupport::advance(0.9);
  EXPECT_EQ(inode(textfile), second);
  TestSupport::advance(0.2);
  EXPECT_NE(inode(textfile), second);
  EXPECT_NE(HostTest::readFile(textfile).find(kernel + "0\n"), std::string::npos);
}

TEST_F(MetricsHost, SteadyCycleAllocatesNothingWithMetricsOn) {
  TestSupport::advance(4.0);  // settled: every register known and right
  auto const before = TestSupport::allocations();
  TestSupport::advance(20.0);  // ten steady cycles
  EXPECT_EQ(TestSupport::allocations() - before, 0u);
  // Each cycle begun is completed and timed.
  auto const cycles = value("agenthost_poll_cycles_completed_total");
  EXPECT_GE(cycles, 12);
  EXPECT_EQ(value("agenthost_poll_cycles_begun_total"), cycles);
  EXPECT_EQ(value("agenthost_poll_cycle_duration_seconds_count"), cycles);
  EXPECT_EQ(value("agenthost_error"), 0);
}

}  // namespace
