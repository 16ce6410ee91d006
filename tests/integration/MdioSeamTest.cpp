#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/mdio/linux/MiiIoctlBus.h"
#include "tests/agent/SimAppliance.h"
#include "tests/support/ChipIoctl.h"

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
// ioctl bus whose system call answers from the same kind of chip.
Observed runAppliance(bool overIoctl) {
  std::unique_ptr<TestSupport::ChipIoctl> ioctl;
  TestSupport::TraceCapture tc("Bcm53134Agent/0,1,8 CpuIfMgr/0-8 Mdio/0-8");
  TestSupport::SimAppliance app(false);
  app.chip->txDisableCouplingIs(true);
  app.mgmtInterfaceIs(0, "Management1", "mgmt1", 1, 5);
  app.mgmtInterfaceIs(1, "Management2", "", 2, 6);
  Orba::Ptr<TestSupport::RecordingBus> recorder;
  if (overIoctl) {
    ioctl = std::make_unique<TestSupport::ChipIoctl>("eth1", *app.chip);
    app.ham = Fru::Ham::HamIs(Hardware::Mdio::Linux::MiiIoctlBus::MiiIoctlBusIs("eth1", *ioctl));
  } else {
    recorder = TestSupport::RecordingBus::RecordingBusIs(app.chip);
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
  o.accesses = overIoctl ? ioctl->accesses : recorder->accesses;
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

}  // namespace
