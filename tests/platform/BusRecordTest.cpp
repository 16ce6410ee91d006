#include <unistd.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/bus/record/BusRecord.h"
#include "platform/bus/record/RecordingBus.h"
#include "platform/bus/record/ReplayBus.h"
#include "platform/bus/sim/SimBcm53134.h"
#include "tests/support/Loop.h"

namespace {

using namespace Hardware::Mdio::Record;
using Hardware::Mdio::Sim::Bcm53134Chip;

std::string tempPath(char const* name) {
  return "/tmp/busrecord-" + std::to_string(::getpid()) + "-" + name;
}

std::string slurp(std::string const& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

BusRecord parse(std::string const& text) {
  std::istringstream in(text);
  return readBusRecord(in, "r.jsonl");
}

constexpr char const* kHead =
    R"({"record":"agenthost bus record","format":1,"start":"2026-01-01T00:00:00.000Z","from":"start","transport":"x","accessTime":0.5})"
    "\n";

// What is recorded reads back as it happened: values, a failure's text,
// the times since the start, and text with quotes, control characters and
// bytes that are not UTF-8 (replaced); then, past its size limit, the record
// ends with a line saying so while the bus goes on answering.
TEST(BusRecord, WhatIsRecordedReadsBackAndTheSizeLimitEndsIt) {
  TestSupport::loop().resetForTest(10.0);
  auto chip = Bcm53134Chip::Bcm53134ChipIs();
  chip->regIs(1, 0x18, 0x430);
  auto rec = RecordingBus::RecordingBusIs(chip);
  rec->read(1, 0x18);  // not recording: not in the record
  std::string path = tempPath("a"), told;
  rec->endHandlerIs([&](std::string const& t) { told = t; });
  rec->recordingIs(path, {{"host", "test"}, {"applianceFile", "a\"b\n\x02\xff.yaml"}}, 700, true);
  EXPECT_THROW(rec->recordingIs(path, {}, 700, true), std::runtime_error);
  TestSupport::advance(1.5);
  rec->write(2, 0x10, 0x3000);
  chip->failNextAccesses(1, "bus \"stuck\"\n\x01\xff");
  rec->read(1, 0x18);
  rec->read(1, 0x18);
  for (int i = 0; i < 20 && rec->recording(); ++i)
    rec->read(3, 0x01);
  EXPECT_FALSE(rec->recording());
  EXPECT_NE(told.find("size limit of 700 bytes is reached"), std::string::npos) << told;
  EXPECT_EQ(rec->read(1, 0x18).value, 0x430) << "the bus goes on";

  std::string text = slurp(path);
  EXPECT_LE(text.size(), 700u);
  auto r = parse(text);
  EXPECT_EQ(r.transport, "simulated BCM53134");
  EXPECT_NE(r.header.find(R"("host":"test")"), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(r.header)["applianceFile"], "a\"b\n\x02\uFFFD.yaml");
  EXPECT_EQ(r.endReason, "sizeLimit");
  EXPECT_TRUE(r.cutShort());
  ASSERT_GE(r.accesses.size(), 4u);
  auto const& w = r.accesses[0];
  EXPECT_TRUE(w.write);
  EXPECT_EQ(w.line, 2u);
  EXPECT_DOUBLE_EQ(w.t, 1.5);
  EXPECT_EQ(w.phy, 2);
  EXPECT_EQ(w.reg, 0x10);
  EXPECT_EQ(w.value, 0x3000);
  EXPECT_EQ(r.accesses[1].error, "bus \"stuck\"\n\x01\uFFFD");
  EXPECT_EQ(r.accesses[2].value, 0x430);
  EXPECT_TRUE(r.accesses[2].error.empty());
  ::unlink(path.c_str());

  auto other = RecordingBus::RecordingBusIs(chip);
  EXPECT_THROW(other->recordingIs("/nonexistent-dir/r.jsonl", {}, 1 << 20, true),
               std::runtime_error);
  EXPECT_THROW(other->recordingIs(tempPath("b"), {}, 10, true), std::runtime_error)
      << "a limit with no room for the first line";
}

// Every damaged record is refused with its line and the reason.
TEST(BusRecord, DamagedRecordsAreRefusedWithTheLine) {
  std::string const a = R"({"t":1,"phy":1,"reg":1,"op":"read","value":31085})",
                    end = R"({"t":2,"end":"stopped"})", head = kHead;
  auto rec = [&](std::vector<std::string> const& lines) {
    std::string t = head;
    for (auto const& l : lines)
      t += l + "\n";
    return t;
  };
  // An access of PHY 1 register 1 at 1 s with these fields after the register.
  auto at1 = [](char const* rest) { return R"({"t":1,"phy":1,"reg":1,)" + std::string(rest); };
  struct Case {
    std::string text;
    std::size_t line;
    char const* reason;
  } const cases[] = {
      {"", 0, "empty"},
      {"{\"hello\":1}\n", 1, "not a bus record"},
      {"PK\x03\x04garbage\n", 1, "not a JSON object"},
      {head.substr(0, 20), 1, "no line end"},
      {rec({R"({"t":3,"phy":1,"reg":1,"op":"read","value":1})", a, end}), 3,
       "before the line above"},
      {rec({end, a}), 3, "after the end line"},
      {rec({R"({"t":1,"phy":32,"reg":1,"op":"read","value":1})", end}), 2,
       "\"phy\" is out of range"},
      {rec({at1(R"("op":"read","value":-1})"), end}), 2, "\"value\" is not a whole number"},
      {rec({at1(R"("op":"poke","value":1})"), end}), 2, "\"op\" must be read or write"},
      {rec({at1(R"("op":"read","value":1,"x":2})"), end}), 2, "unknown member \"x\""},
      {rec({at1(R"("op":"read","value":[[1]]})"), end}), 2, "nested deeper"},
      {std::string(head).replace(head.find("\"format\":1"), 10, "\"format\":2") + end + "\n", 1,
       "this host reads format 1"},
  };
  for (auto const& c : cases) {
    try {
      parse(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (RecordError const& e) {
      EXPECT_EQ(e.line(), c.line) << e.what();
      EXPECT_NE(e.reason().find(c.reason), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(parse(rec({a, end})).accesses.size(), 1u);

  // Cut short by a full disk or a crash: read up to the last whole line.
  auto cut = parse(rec({a}));
  EXPECT_EQ(cut.accesses.size(), 1u);
  EXPECT_TRUE(cut.cutShort());
  EXPECT_NE(cut.cut.find("no end line; the record stops after line 2"), std::string::npos)
      << cut.cut;
  cut = parse(rec({a, a}) + a.substr(0, 20));
  EXPECT_EQ(cut.accesses.size(), 2u);
  EXPECT_NE(cut.cut.find("stops after line 3 (line 4 is cut short (20 bytes"), std::string::npos)
      << cut.cut;
}

// A replay answers from the record, and says where the agent's accesses
// first differ from it.
TEST(BusRecord, ReplayAnswersFromTheRecordAndFindsEachKindOfDifference) {
  std::string text = std::string(kHead) +
                     R"({"t":0,"phy":1,"reg":1,"op":"read","value":31085}
{"t":0.5,"phy":1,"reg":16,"op":"write","value":4096,"error":"timeout"}
{"t":2,"end":"stopped"}
)";
  auto const record = parse(text);
  struct Case {
    std::function<void(ReplayBus&)> agent;
    double runEndsAt;  // < 0: the run does not end
    std::size_t line;
    char const* text;
  } const cases[] = {
      {[](ReplayBus& b) { b.read(1, 16); }, -1, 2, "the agent did a read of PHY 1 register 0x10"},
      {[](ReplayBus& b) { b.read(2, 1); }, -1, 2, "did a read of PHY 2 register 0x01"},
      {[](ReplayBus& b) {
         b.read(1, 1);
         b.write(1, 16, 4097);
       },
       -1, 3,
       "the record has a write of 0x1000 to PHY 1 register 0x10 at 0.500000 s; the agent did a "
       "write of 0x1001"},
      {[](ReplayBus& b) {
         b.read(1, 1);
         b.write(1, 16, 4096);
         b.read(1, 1);
       },
       -1, 4, "which the record does not have (it ends at 2.000000 s)"},
      {[](ReplayBus& b) { b.read(1, 1); }, 3, 3,
       "and 0 accesses after it that the agent never did"},
  };
  for (auto const& c : cases) {
    TestSupport::resetLoop();
    auto bus = ReplayBus::ReplayBusIs(record);
    int told = 0;
    bus->overHandlerIs([&] { ++told; });
    c.agent(*bus);
    if (c.runEndsAt >= 0) {
      TestSupport::advance(c.runEndsAt);
      bus->runEnds();
    }
    ASSERT_TRUE(bus->divergence()) << c.text;
    EXPECT_EQ(bus->divergence()->line, c.line) << bus->divergence()->text;
    EXPECT_NE(bus->divergence()->text.find(c.text), std::string::npos) << bus->divergence()->text;
    EXPECT_EQ(told, 1);
    EXPECT_FALSE(bus->read(1, 1).ok()) << "over";
  }

  TestSupport::resetLoop();
  auto bus = ReplayBus::ReplayBusIs(record);
  EXPECT_EQ(bus->accessTime(), 0.5);
  EXPECT_EQ(bus->read(1, 1).value, 31085);
  EXPECT_EQ(bus->write(1, 16, 4096).error, "timeout");
  TestSupport::advance(2.5);
  bus->read(1, 1);  // past the record's end: the replay is complete
  EXPECT_TRUE(bus->finished());
  EXPECT_FALSE(bus->divergence());
}

}  // namespace
