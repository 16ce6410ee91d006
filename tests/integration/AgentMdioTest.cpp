#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>

#include "platform/bus/linux/MiiIoctlBus.h"
#include "platform/bus/record/BusRecord.h"
#include "platform/bus/record/RecordingBus.h"
#include "tests/support/ChipIoctl.h"
#include "tests/support/Emulation.h"
#include "tests/support/Netns.h"
#include "tests/support/SimAppliance.h"

namespace {

using TestSupport::BusAccess;

// What a user and the hardware see of one run.
struct Observed {
  std::vector<BusAccess> accesses;
  std::vector<std::string> statuses;  // after each cycle: time, links, error text
  std::vector<std::string> traces;
};

// The appliance of examples/appliance.yaml: Management1 on ports 1/5 with
// CPU netdevice mgmt1, Management2 on ports 2/6 without one, both links up,
// the transmitter coupled to the link. Its first cycles, then a link lost and
// regained, a register changed behind the agent's back and a flap only the
// latch sees, run either straight on the simulated chip or over the MII
// ioctl bus whose system call answers from the same kind of chip. The run
// on the chip is seen through the host's own bus recorder.
Observed runAppliance(bool overIoctl) {
  using Hardware::Mdio::Record::RecordingBus;
  std::string const record = "/tmp/mdioseam-" + std::to_string(::getpid()) + ".jsonl";
  std::unique_ptr<TestSupport::ChipIoctl> ioctl;
  TestSupport::TraceCapture tc("Bcm53134Agent/0,1,8 CpuIfMgr/0-8 Mdio/0-8");
  TestSupport::SimAppliance app(false);
  app.chip->txDisableCouplingIs(true);
  app.mgmtInterfaceIs(0, "Management1", "mgmt1", 1, 5);
  app.mgmtInterfaceIs(1, "Management2", "", 2, 6);
  Orba::Ptr<RecordingBus> recorder;
  if (overIoctl) {
    ioctl = std::make_unique<TestSupport::ChipIoctl>("eth1", *app.chip);
    app.ham = Fru::Ham::HamIs(Hardware::Mdio::Linux::MiiIoctlBus::MiiIoctlBusIs("eth1", *ioctl));
  } else {
    recorder = RecordingBus::RecordingBusIs(app.chip);
    recorder->recordingIs(record, {{"host", "test"}}, 1 << 24, true);
    app.ham = Fru::Ham::HamIs(recorder);
  }
  app.config->hamIs(app.ham);
  app.start();
  app.useTestCpuIfMgr();

  Observed o;
  for (int cycle = 1; cycle <= 10; ++cycle) {
    if (cycle == 4)
      app.chip->linkIs(2, false);
    if (cycle == 6)
      app.chip->regIs(1, Hardware::Mdio::Sim::Bcm53134Chip::kAuxCtrl, 0);
    if (cycle == 7)
      app.chip->linkIs(2, true);
    if (cycle == 9)
      app.chip->linkFlap(1);
    EXPECT_TRUE(app.runCycle()) << "cycle " << cycle;
    char buf[128];
    std::snprintf(buf, sizeof buf, "%.6f link1 %d link2 %d error '%s'", TestSupport::now(),
                  static_cast<int>(app.link(1)), static_cast<int>(app.link(2)),
                  app.status->error().c_str());
    o.statuses.push_back(buf);
  }
  if (overIoctl) {
    o.accesses = ioctl->accesses;
  } else {
    recorder->recordingEnd();
    std::ifstream in(record);
    for (auto const& a : Hardware::Mdio::Record::readBusRecord(in, record).accesses)
      o.accesses.push_back({a.write, a.phy, a.reg, a.value});
    ::unlink(record.c_str());
  }
  o.traces = tc.sink.messages();
  app.root = nullptr;
  return o;
}

TEST(MdioSeam, TheAgentOverTheIoctlBusDoesExactlyWhatItDoesOnTheSimulatedChip) {
  Observed const sim = runAppliance(false);
  Observed const ioctl = runAppliance(true);

  // The first access that differs says more than the whole lists.
  for (std::size_t i = 0; i < std::min(sim.accesses.size(), ioctl.accesses.size()); ++i) {
    ASSERT_EQ(toString(ioctl.accesses[i]), toString(sim.accesses[i])) << "access " << i;
  }
  EXPECT_EQ(ioctl.accesses.size(), sim.accesses.size());
  EXPECT_EQ(ioctl.statuses, sim.statuses);
  EXPECT_EQ(ioctl.traces, sim.traces);

  // The comparison means something: the run wrote registers, saw the link
  // go and come back, and traced what it did.
  auto writes = std::count_if(sim.accesses.begin(), sim.accesses.end(),
                              [](BusAccess const& a) { return a.write; });
  EXPECT_GE(writes, 10);
  EXPECT_NE(sim.statuses[3].find("link2 0"), std::string::npos) << sim.statuses[3];
  EXPECT_NE(sim.statuses.back().find("link2 1"), std::string::npos);
  EXPECT_GT(sim.traces.size(), 50u);
}

// The whole agent for a virtual hour on a netdevice that refuses the MII
// ioctls (a veth in a private namespace): the kernel's refusal reaches the
// status entity through the register service, every cycle starts one poll
// period after the previous one ended, and nothing grows.
TEST(AgentOnARefusingNetdevice, PublishesTheKernelsReasonAndKeepsPollingForAnHour) {
  SKIP_UNDER_EMULATION(TestSupport::kMiiIoctlsUntranslated);
  REQUIRE_NETNS();
  TestSupport::NetNamespace ns;
  ns.ip("link add v0 type veth peer name v1");
  ns.ip("link set v0 up");
  TestSupport::TraceCapture tc("Bcm53134Agent/0 CpuIfMgr/0 Mdio/0");
  {
    TestSupport::SimAppliance app(false);
    app.mgmtInterfaceIs(0, "Management1", "mgmt1", 1, 5);
    app.mgmtInterfaceIs(1, "Management2", "", 2, 6);
    app.ham = Fru::Ham::HamIs(Hardware::Mdio::Linux::MiiIoctlBus::MiiIoctlBusIs("v0"));
    app.config->hamIs(app.ham);
    std::vector<Kiv::Seconds> published;  // when each error text came
    Orba::SubscriberSlot slot([&](Kiv::AttributeId id, void const*) {
      if (id == Hardware::Bcm53134::Status::errorAttrId())
        published.push_back(TestSupport::now());
    });
    app.status->publisher()->subscriberAdd(slot);
    app.start();
    app.useTestCpuIfMgr();

    TestSupport::advance(600);
    auto const nodes = Orba::Node::liveCount();
    auto const lines = tc.sink.lines.size();
    auto const errors = published.size();
    TestSupport::advance(3000);
    EXPECT_EQ(Orba::Node::liveCount(), nodes);

    std::string const error = app.status->error();
    auto const reason = error.find(": MDIO read");
    ASSERT_NE(reason, std::string::npos) << error;
    EXPECT_EQ(error.substr(reason),
              ": MDIO read of PHY 1 register 0x10 on v0 failed: Operation not supported");
    EXPECT_EQ(error.rfind("XID ", 0), 0u) << error;
    // One failed read per cycle, every pollPeriod plus the access time.
    ASSERT_GE(published.size(), 1790u);
    for (std::size_t i = 1; i < published.size(); ++i) {
      ASSERT_NEAR(published[i] - published[i - 1], app.sm().pollPeriod(), 1e-3) << "cycle " << i;
    }
    // The read phase stops at the first failure, so no link is ever
    // published as up (none is published at all).
    EXPECT_TRUE(app.status->ports().empty());
    // After its start-up, one line per failed cycle and nothing else (the
    // bus traces its refusal only once).
    EXPECT_EQ(tc.matching("::handleRegisterResult: XID ").size(), published.size());
    EXPECT_EQ(tc.sink.lines.size() - lines, published.size() - errors);
    app.root = nullptr;
  }
}

}  // namespace
