// Register identities and the machine's register records: order, hash and
// text form of an identity; the plausibility rule of a record; reuse and
// rejection when a record is instantiated again.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/kiv/Errors.h"
#include "tests/agent/AgentHarness.h"

namespace {

using Bcm53134::Agent::Bcm53134Sm;
using Bcm53134::Agent::RegisterId;
using Bcm53134::Agent::RegisterVal;
using namespace Kiv;

std::string text(RegisterId const& id) {
  std::ostringstream os;
  os << id;
  return os.str();
}

TEST(RegisterId, OrderHashAndText) {
  // Page first, then address, both unsigned.
  EXPECT_LT(RegisterId(0x11, 0xffffffff), RegisterId(0x12, 0));
  EXPECT_GT(RegisterId(0x80000000, 0), RegisterId(1, 0));
  EXPECT_GT(RegisterId(1, 0x80000000), RegisterId(1, 1));
  EXPECT_EQ(RegisterId(0x11, 0x20) <=> RegisterId(0x11, 0x20), std::strong_ordering::equal);
  EXPECT_NE(RegisterId(0x11, 0x20), RegisterId(0x20, 0x11));

  // Page and address are not interchangeable in the hash either.
  EXPECT_NE(RegisterId(0x11, 0x20).hash(), RegisterId(0x20, 0x11).hash());

  // What prints parses back to the same identity, through the identity's
  // parser and the attribute interface's: the registerid fuzz corpus's
  // round trip (fuzz_registerid_corpus).
  EXPECT_EQ(text(RegisterId(0x11, 0x20)), "Bcm53134::Agent::RegisterId(page=0x11, addr=0x20)");
  EXPECT_EQ(RegisterId::parse("Bcm53134::Agent::RegisterId(page=17, addr=32)"),
            RegisterId(0x11, 0x20));

  // The range constructor stops after the value; a whole-string parse
  // insists that nothing follows.
  std::string_view range = "Bcm53134::Agent::RegisterId(page=0x1, addr=0x2) tail";
  EXPECT_EQ(RegisterId(range), RegisterId(1, 2));
  EXPECT_EQ(range, " tail");
  for (char const* bad :
       {"Bcm53134::Agent::RegisterId(page=0x1, addr=0x2) tail",
        "Bcm53134::Agent::RegisterId(page=0x1, addr=0x2",
        "Bcm53134::Agent::RegisterId(addr=0x2, page=0x1)", "Bcm53134::Agent::RegisterId(page=0x1)",
        "Bcm53134::Agent::RegisterId(page=0x100000000, addr=0x2)",
        "Bcm53134::Agent::RegisterId(page=-1, addr=0x2)", "RegisterId(page=0x1, addr=0x2)", ""}) {
    EXPECT_THROW(RegisterId::parse(bad), AttributeError) << bad;
  }
}

// A record's plausibility rule is (value & mask) == expected, with the
// expected value given before the mask.
TEST(RegisterVal, PlausibilityRule) {
  auto const ext = RegisterVal::RegisterValIs(RegisterId(0x11, 0x20), 2, 0x0, 0xCFFF);
  for (U32 v : {0x0000u, 0x1000u, 0x2000u, 0x3000u})
    EXPECT_TRUE(ext->isValidValue(v)) << v;
  for (U32 v : {0x3001u, 0x1140u, 0x4000u, 0x8000u})
    EXPECT_FALSE(ext->isValidValue(v)) << v;
  auto const odd = RegisterVal::RegisterValIs(RegisterId(1, 1), 2, 0x5, 0xF);
  EXPECT_TRUE(odd->isValidValue(0x35));
  EXPECT_FALSE(odd->isValidValue(0xF));
}

// A bare machine over a config without hardware: it polls nothing, so its
// records change only through the calls the test makes.
TEST(RegisterRecords, RegisterValIsReusesASameRecordAndRejectsADifferentOne) {
  auto const sm = Bcm53134::Agent::bcm53134SmFactory(Hardware::Bcm53134::Config::ConfigIs(),
                                                     Hardware::Bcm53134::Status::StatusIs(),
                                                     Kiv::Dir::DirIs("slice"));
  RegisterId const id(0x11, 0x20);
  auto const first = sm->registerValIs(id, 2, 0x0, 0xCFFF);
  first->valIs(0x1000);
  first->validIs(true);
  first->configValIs(0x3000);
  auto const again = sm->registerValIs(id, 2, 0x0, 0xCFFF);
  EXPECT_EQ(again, first);
  EXPECT_EQ(again->val(), 0x1000u);
  EXPECT_TRUE(again->valid());
  EXPECT_EQ(again->configVal(), 0x3000u);

  // The first differing creation argument is named; nothing changes.
  auto const attributeOf = [&](U32 size, U32 checkVal, U32 checkMask) -> std::string {
    try {
      sm->registerValIs(id, size, checkVal, checkMask);
    } catch (ReinstantiationException const& e) {
      EXPECT_EQ(e.type, "Bcm53134::Agent::RegisterVal");
      return e.attribute;
    }
    return "none";
  };
  EXPECT_EQ(attributeOf(4, 0x1, 0x1), "dataSize");
  EXPECT_EQ(attributeOf(2, 0x1, 0x1), "validityCheckVal");
  EXPECT_EQ(attributeOf(2, 0x0, 0xFFFF), "validityCheckMask");
  EXPECT_EQ(sm->registerVal(id), first);
  EXPECT_EQ(sm->registerVals().size(), 1u);
  EXPECT_EQ(first->validityCheckMask(), 0xCFFFu);
  EXPECT_EQ(first->val(), 0x1000u);
  TestSupport::resetLoop();
}

}  // namespace
