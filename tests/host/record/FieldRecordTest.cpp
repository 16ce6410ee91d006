#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "host/Session.h"
#include "host/record/FieldRecord.h"
#include "platform/bus/linux/MiiIoctlBus.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/ChipIoctl.h"
#include "tests/support/Loop.h"
#include "tests/support/PrivateTmpfs.h"
#include "workbench/scenario/RecordReplay.h"

namespace {

using HostTest::HostProcess;
using HostTest::TempDir;

// A run with a flap, a link drop, a register cleared behind the agent's
// back and two failed accesses, on the two-interface example appliance.
constexpr char const* kFieldRun = R"(name: field run
appliance: EXAMPLES/appliance.yaml
end: 20
steps:
  - {at: 3.0, link: {port: 1, state: flap}}
  - {at: 5.0, link: {port: 2, state: down}}
  - {at: 7.0, register: {port: 1, reg: auxControl, value: 0x0}}
  - {at: 9.0, failAccesses: {count: 2, error: MDIO bus timeout}}
  - {at: 13.0, link: {port: 2, state: up}}
)";

// The status and (unless statusOnly) trace lines of a timeline, addresses
// masked.
std::string agentLines(std::string const& timeline, bool statusOnly = false) {
  static std::regex const addr("0x[0-9a-f]{8,}");
  std::istringstream in(timeline);
  std::string r;
  for (std::string l; std::getline(in, l);) {
    if (l.find("  status  ") != std::string::npos ||
        (!statusOnly && l.find("  trace   ") != std::string::npos))
      r += std::regex_replace(l, addr, "ADDR") + "\n";
  }
  return r;
}

std::string statusLines(std::string const& timeline) {
  return agentLines(timeline, true);
}

// A session in virtual time with the simulated CPU interface manager, its
// timeline thrown away, recording into `record` from its start; five seconds
// into its run.
struct RecordingSession {
  RecordingSession(Host::ApplianceDesc a, std::string const& record, std::string const& file = "",
                   Orba::Ptr<Hardware::Mdio::Bus> bus = {}) {
    TestSupport::resetLoop();
    Host::SessionOptions o;
    o.cpu = Host::CpuRequest::simulated;
    o.allowHostNetdevs = false;
    o.applianceFile = file;
    s = std::make_unique<Host::Session>(std::move(a), o, *timeline, std::move(bus));
    Host::recordStart(s->db(), s->appliance(), record, 1 << 20, true);
    s->start();
    TestSupport::advance(5.0);
  }
  HostTest::QuietTimeline timeline;
  std::unique_ptr<Host::Session> s;
};

std::string run(TempDir const& dir, std::vector<std::string> args, int want) {
  HostProcess p(dir, std::move(args));
  EXPECT_EQ(p.wait(), want) << p.out() << p.err();
  return p.out() + p.err();
}

TEST(FieldRecord, ARecordedRunReplaysToTheSameTimelineAndTheFirstDifferenceIsFound) {
  TempDir dir;
  std::string text = std::regex_replace(kFieldRun, std::regex("EXAMPLES"), EXAMPLES_DIR);
  auto scenario = dir.file("run.yaml", text);
  auto record = dir.path() + "/run.jsonl";
  auto recorded = run(dir, {"--scenario", scenario, "--record", record}, 0);
  auto replayed = run(dir, {"--replay", record}, 0);
  EXPECT_NE(replayed.find("the agent made the record's"), std::string::npos) << replayed;
  ASSERT_NE(agentLines(recorded).find("MDIO bus timeout"), std::string::npos) << recorded;
  EXPECT_EQ(agentLines(replayed), agentLines(recorded));

  // The scenario made from the record drives the simulated chip to the same
  // link statuses and errors.
  auto made = dir.file("made.yaml", run(dir, {"--replay", record, "--as-scenario"}, 0));
  EXPECT_EQ(statusLines(run(dir, {"--scenario", made}, 0)), statusLines(recorded))
      << HostTest::readFile(made);

  // One written value changed by hand: the replay stops at that line.
  auto edited = HostTest::readFile(record);
  auto const at = edited.find("\"op\":\"write\",\"value\":4096");
  ASSERT_NE(at, std::string::npos);
  auto const changed = std::count(edited.begin(), edited.begin() + at, '\n') + 1;
  edited.replace(edited.find("4096", at), 4, "4097");
  auto bad = dir.file("bad.jsonl", edited);
  auto out = run(dir, {"--replay", bad}, 1);
  EXPECT_NE(
      out.find(bad + ":" + std::to_string(changed) + ": the record has a write of 0x1001 to PHY"),
      std::string::npos)
      << out;
  EXPECT_NE(out.find("result: 0 passed, 1 failed"), std::string::npos);

  // A record that cannot be made stops the start-up.
  out = run(dir, {"--scenario", scenario, "--record", dir.path() + "/no/such/dir.jsonl"}, 3);
  EXPECT_NE(out.find("cannot be created: No such file or directory"), std::string::npos) << out;
}

// Four hours of polling recorded in real time: every cycle starts a little
// late (the loop's wake-up), here 0.4 ms, which adds up to seconds. The
// scenario made from it still places each event in the cycle it belongs to,
// and makes the same status at the same times.
TEST(FieldRecord, AScenarioFromARealTimeRecordPlacesEventsByTheirCycle) {
  TempDir dir;
  auto scenario =
      dir.file("long.yaml", std::string("appliance: ") + EXAMPLES_DIR + R"(/appliance.yaml
end: 14420
steps:
  - {at: 14401.0, link: {port: 2, state: down}}
  - {at: 14405.0, failAccesses: {count: 1, error: MDIO bus timeout}}
  - {at: 14407.0, register: {port: 1, reg: auxControl, value: 0x0}}
  - {at: 14413.0, link: {port: 2, state: up}}
)");
  auto record = dir.path() + "/long.jsonl";
  auto recorded = run(dir, {"--scenario", scenario, "--record", record}, 0);
  std::istringstream in(HostTest::readFile(record));
  std::string late;
  for (std::string l; std::getline(in, l);) {
    auto j = nlohmann::ordered_json::parse(l);
    if (j.contains("t"))
      j["t"] = j["t"].get<double>() * (1 + 2e-4);
    late += j.dump() + "\n";
  }
  auto lateRecord = dir.file("late.jsonl", late);
  auto made = dir.file("made.yaml", run(dir, {"--replay", lateRecord, "--as-scenario"}, 0));
  ASSERT_NE(statusLines(recorded).find("MDIO bus timeout"), std::string::npos) << recorded;
  EXPECT_EQ(statusLines(run(dir, {"--scenario", made}, 0)), statusLines(recorded))
      << HostTest::readFile(made);
}

// Records that stop short of the run replay quietly up to where they stop:
// at their size limit, at a reload, and cut by a full disk or a crash (no end
// line, the last line half written).
TEST(FieldRecord, ARecordThatStopsShortReplaysQuietlyUpToWhereItStops) {
  TempDir dir;
  std::string text = std::regex_replace(kFieldRun, std::regex("EXAMPLES"), EXAMPLES_DIR);
  auto scenario = dir.file("run.yaml", text);
  auto limited = dir.path() + "/limited.jsonl";
  run(dir, {"--scenario", scenario, "--record", limited, "--record-limit", "2k"}, 0);
  ASSERT_EQ(Host::loadBusRecord(limited).endReason, "sizeLimit");
  auto out = run(dir, {"--replay", limited}, 0);
  EXPECT_EQ(out.find("is over"), std::string::npos) << out;
  EXPECT_NE(out.find("the agent made the record's"), std::string::npos) << out;

  // Cut short by a full disk: no end line, maybe half a line last.
  TempDir small;
  TestSupport::PrivateTmpfs fs(small.path());
  if (fs.usable()) {
    auto cut = small.path() + "/cut.jsonl";
    {
      RecordingSession q(HostTest::twoInterfaces(), cut);
      fs.fill();
      q.s->db().chip().linkIs(1, false);
      TestSupport::advance(5.0);
    }
    fs.free();
    out = run(dir, {"--replay", cut}, 0);
    EXPECT_NE(out.find(cut + ": no end line; the record stops after line "), std::string::npos)
        << out;
    EXPECT_EQ(out.find("is over"), std::string::npos) << out;
  }

  // A reload that changes the appliance ends the record, which replays to
  // there.
  auto app =
      dir.file("appliance.yaml", HostTest::readFile(std::string(EXAMPLES_DIR) + "/appliance.yaml"));
  auto reloaded = dir.path() + "/reloaded.jsonl";
  {
    RecordingSession q(Host::loadAppliance(app), reloaded, app);
    auto changed = HostTest::readFile(app);
    changed.replace(changed.find("Management2: enabled"), 20, "Management2: disabled");
    dir.file("appliance.yaml", changed);
    EXPECT_EQ(q.s->reload("SIGHUP").result, Host::ReloadOutcome::Result::applied);
    EXPECT_FALSE(q.s->db().recorder().recording());
    TestSupport::advance(5.0);
  }
  EXPECT_EQ(Host::loadBusRecord(reloaded).endReason, "reload");
  out = run(dir, {"--replay", reloaded}, 0);
  EXPECT_NE(out.find("the record ends where the appliance was reloaded"), std::string::npos) << out;
}

// A run over the MII ioctl bus (its system call answered from a simulated
// chip) is recorded, and replays on the simulated chip's appliance.
TEST(FieldRecord, ARunOverTheMiiIoctlBusReplays) {
  TempDir dir;
  auto record = dir.path() + "/mii.jsonl";
  {
    TestSupport::resetLoop();
    auto chip = Hardware::Mdio::Sim::Bcm53134Chip::Bcm53134ChipIs();
    chip->linkIs(1, true);
    chip->linkIs(2, true);
    TestSupport::ChipIoctl ioctl("eth1", *chip);
    auto a = HostTest::twoInterfaces();
    a.mdio = Host::MdioTransport::miiIoctl;
    a.mdioNetdev = "eth1";
    a.links.clear();
    RecordingSession q(a, record, "",
                       Hardware::Mdio::Linux::MiiIoctlBus::MiiIoctlBusIs("eth1", ioctl));
    chip->linkIs(1, false);
    TestSupport::advance(5.0);
    q.s->db().recorder().recordingEnd();
    q.s->stop();
  }
  auto r = Host::loadBusRecord(record);
  EXPECT_EQ(r.transport, "MII ioctls on eth1");
  auto out = run(dir, {"--replay", record}, 0);
  EXPECT_NE(out.find("port 1 link status 0 (linkDown)"), std::string::npos) << out;
  EXPECT_NE(out.find("the agent made the record's " + std::to_string(r.accesses.size())),
            std::string::npos)
      << out;
}

}  // namespace
