// Register identities and the machine's register records: order, hash and
// text form of an identity; plausibility rules and constants of a record;
// the keyed, instantiating collection of records.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/kiv/Errors.h"
#include "platform/kiv/ValueText.h"
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

TEST(RegisterId, OrdersByPageThenAddressUnsigned) {
  EXPECT_LT(RegisterId(0x11, 0x20), RegisterId(0x12, 0x20));
  EXPECT_GT(RegisterId(0x11, 0x30), RegisterId(0x11, 0x20));
  EXPECT_LT(RegisterId(0x11, 0xffffffff), RegisterId(0x12, 0));
  EXPECT_GT(RegisterId(0x80000000, 0), RegisterId(1, 0));
  EXPECT_GT(RegisterId(1, 0x80000000), RegisterId(1, 1));
  EXPECT_EQ(RegisterId(0x11, 0x20) <=> RegisterId(0x11, 0x20), std::strong_ordering::equal);
  EXPECT_EQ(RegisterId(), RegisterId(0, 0));
  EXPECT_NE(RegisterId(0x11, 0x20), RegisterId(0x20, 0x11));
}

TEST(RegisterId, HashesPageThenAddressFromTheSeed) {
  RegisterId const id(0x11, 0x20);
  std::uint32_t const page = 0x11, addr = 0x20;
  auto const expected = [&](std::uint64_t seed) {
    return hashMix(hashMix(seed, &page, 4), &addr, 4);
  };
  EXPECT_EQ(id.hash(), expected(0));
  EXPECT_EQ(id.hash(7), expected(7));
  EXPECT_NE(id.hash(0), id.hash(7));
  EXPECT_NE(id.hash(), RegisterId(0x20, 0x11).hash());
}

TEST(RegisterId, TextFormRoundTripsAndMalformedTextIsRejected) {
  EXPECT_EQ(text(RegisterId(0x11, 0x20)), "Bcm53134::Agent::RegisterId(page=0x11, addr=0x20)");
  for (auto const& id : {RegisterId(), RegisterId(0x17, 0x30), RegisterId(0xffffffff, 1)}) {
    EXPECT_EQ(RegisterId::parse(text(id)), id);
    EXPECT_EQ(parseValue(&TypeOf<RegisterId>::desc(), text(id)).as<RegisterId>(), id);
    EXPECT_EQ(Value::of(id).text(), text(id));
  }
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
        "Bcm53134::Agent::RegisterId(page=-1, addr=0x2)",
        "Bcm53134::Agent::RegisterVal(page=0x1, addr=0x2)", "RegisterId(page=0x1, addr=0x2)", ""}) {
    EXPECT_THROW(RegisterId::parse(bad), AttributeError) << bad;
  }
}

// A record's plausibility rule is (value & mask) == expected, with the
// expected value given before the mask.
TEST(RegisterVal, PlausibilityRulesAndConstants) {
  auto const ext = RegisterVal::RegisterValIs(RegisterId(0x11, 0x20), 2, 0x0, 0xCFFF);
  for (U32 v : {0x0000u, 0x1000u, 0x2000u, 0x3000u})
    EXPECT_TRUE(ext->isValidValue(v)) << v;
  for (U32 v : {0x3001u, 0x1140u, 0x4000u, 0x8000u})
    EXPECT_FALSE(ext->isValidValue(v)) << v;
  auto const aux = RegisterVal::RegisterValIs(RegisterId(0x11, 0x30), 2, 0x0, 0x0);
  EXPECT_TRUE(aux->isValidValue(0xffffffff));
  auto const odd = RegisterVal::RegisterValIs(RegisterId(1, 1), 2, 0x5, 0xF);
  EXPECT_TRUE(odd->isValidValue(0x35));
  EXPECT_FALSE(odd->isValidValue(0xF));

  EXPECT_EQ(TestSupport::accessTable(*ext),
            "id:r dataSize:r val:rw valid:rw configVal:rw configValid:rw "
            "validityCheckVal:r validityCheckMask:r "
            "extendedControlPageBase:r extendedControlReg:r "
            "extendedControlRegSize:r extendedControlValidVal:r "
            "extendedControlValidMask:r txEnable:r txDisable:r "
            "auxCtrlReg:r auxCtrlRegSize:r auxCtrlRegExpVal:r "
            "auxCtrlRegValidVal:r auxCtrlRegValidMask:r");
  std::vector<std::string> constants;
  for (auto const* a : Generic::attributes(*ext)) {
    if (a->kind == AttrKind::constant)
      constants.push_back(a->name + "=" + Generic::get(*ext, a->name).text());
  }
  EXPECT_EQ(constants,
            (std::vector<std::string>{
                "extendedControlPageBase=16", "extendedControlReg=32", "extendedControlRegSize=2",
                "extendedControlValidVal=0", "extendedControlValidMask=53247", "txEnable=4096",
                "txDisable=12288", "auxCtrlReg=48", "auxCtrlRegSize=2", "auxCtrlRegExpVal=1072",
                "auxCtrlRegValidVal=0", "auxCtrlRegValidMask=0"}));
  EXPECT_EQ(Generic::get(*ext, "txEnable").type(), &TypeOf<U16>::desc());
  EXPECT_EQ(Generic::get(*ext, "auxCtrlRegSize").type(), &TypeOf<U8>::desc());
  EXPECT_EQ(Generic::get(*ext, "id").as<RegisterId>(), RegisterId(0x11, 0x20));
}

// A bare machine over a config without hardware: it polls nothing, so its
// collections change only through the calls the test makes.
class RegisterRecords : public ::testing::Test {
 protected:
  RegisterRecords()
      : sm(Bcm53134::Agent::bcm53134SmFactory(Hardware::Bcm53134::Config::ConfigIs(),
                                              Hardware::Bcm53134::Status::StatusIs(),
                                              Kiv::Dir::DirIs("slice"))) {}
  ~RegisterRecords() override { TestSupport::resetLoop(); }
  Orba::Ptr<Bcm53134Sm> sm;
};

TEST_F(RegisterRecords, RegisterValIsReusesASameRecordAndRejectsADifferentOne) {
  RegisterId const id(0x11, 0x20);
  auto const first = sm->registerValIs(id, 2, 0x0, 0xCFFF);
  EXPECT_FALSE(first->valid());
  EXPECT_FALSE(first->configValid());
  EXPECT_EQ(first->val(), 0u);
  EXPECT_EQ(first->configVal(), 0u);
  first->valIs(0x1000);
  first->validIs(true);
  first->configValIs(0x3000);
  first->configValidIs(true);

  auto const again = sm->registerValIs(id, 2, 0x0, 0xCFFF);
  EXPECT_EQ(again, first);
  EXPECT_EQ(again->val(), 0x1000u);
  EXPECT_TRUE(again->valid());
  EXPECT_EQ(again->configVal(), 0x3000u);
  EXPECT_TRUE(again->configValid());

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
  EXPECT_THROW(
      Generic::insert(*sm, "registerVal",
                      {Value::of(id), Value::of(U32{2}), Value::of(U32{0}), Value::of(U32{0})}),
      ReinstantiationException);
  EXPECT_EQ(sm->registerVal(id), first);
  EXPECT_EQ(sm->registerVals().size(), 1u);
  EXPECT_EQ(first->validityCheckMask(), 0xCFFFu);
  EXPECT_EQ(first->val(), 0x1000u);
}

TEST_F(RegisterRecords, CollectionIteratesInRegisterOrderAndDeletesByKey) {
  for (auto const& id : {RegisterId(0x15, 0x30), RegisterId(0x80000000, 0), RegisterId(0x11, 0x30),
                         RegisterId(0x11, 0x20), RegisterId(0x15, 0x20)}) {
    Generic::insert(*sm, "registerVal",
                    {Value::of(id), Value::of(U32{2}), Value::of(U32{0}), Value::of(U32{0})});
  }
  std::vector<std::string> order;
  for (auto const& [key, record] : Generic::members(*sm, "registerVal")) {
    EXPECT_EQ(Kiv::handleAs<RegisterVal>(record)->id(), key.as<RegisterId>());
    order.push_back(key.text());
  }
  EXPECT_EQ(order,
            (std::vector<std::string>{"Bcm53134::Agent::RegisterId(page=0x11, addr=0x20)",
                                      "Bcm53134::Agent::RegisterId(page=0x11, addr=0x30)",
                                      "Bcm53134::Agent::RegisterId(page=0x15, addr=0x20)",
                                      "Bcm53134::Agent::RegisterId(page=0x15, addr=0x30)",
                                      "Bcm53134::Agent::RegisterId(page=0x80000000, addr=0x0)"}));
  EXPECT_EQ(Generic::count(*sm, "registerVal"), 5u);
  EXPECT_TRUE(Generic::has(*sm, "registerVal", Value::of(RegisterId(0x15, 0x20))));
  EXPECT_FALSE(Generic::has(*sm, "registerVal", Value::of(RegisterId(0x16, 0x20))));

  // A handed-out record outlives its removal; an absent key yields nothing.
  auto const held = sm->registerVal(RegisterId(0x15, 0x20));
  EXPECT_EQ(sm->registerValDel(RegisterId(0x15, 0x20)), held);
  EXPECT_FALSE(sm->registerValDel(RegisterId(0x15, 0x20)));
  EXPECT_FALSE(sm->registerVal(RegisterId(0x15, 0x20)));
  EXPECT_TRUE(Generic::del(*sm, "registerVal", Value::of(RegisterId(0x16, 0x20))).empty());
  EXPECT_EQ(held->id(), RegisterId(0x15, 0x20));
  sm->registerValDelAll();
  EXPECT_EQ(Generic::count(*sm, "registerVal"), 0u);
}

}  // namespace
