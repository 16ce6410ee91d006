#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/kiv/Dir.h"
#include "platform/kiv/Enum.h"
#include "platform/kiv/Errors.h"
#include "platform/kiv/Generic.h"

// A small entity type with one attribute of every shape: a read-only name,
// a writable size and colour, a handle to a peer, a keyed collection of
// labels, an instantiating collection of parts and an operation. Gadget
// derives from Widget and adds nothing.
namespace CoreTest {

enum class Colour : std::uint8_t { red = 0, green = 1, blue = 7 };
Kiv::EnumNames const& colourNames() {
  static Kiv::EnumNames const n{"CoreTest::Colour", {{0, "red"}, {1, "green"}, {7, "blue"}}};
  return n;
}

}  // namespace CoreTest

template <>
struct Kiv::TypeOf<CoreTest::Colour> {
  static TypeDesc const& desc() {
    static TypeDesc const d = enumType<CoreTest::Colour>(CoreTest::colourNames());
    return d;
  }
};

namespace CoreTest {

using Kiv::AttrKind;
using Kiv::self;
using Kiv::TypeDesc;
using Kiv::TypeOf;
using Kiv::U32;
using Kiv::Value;

class Part : public Orba::Node {
 public:
  Part(Orba::String n, U32 w) : name(std::move(n)), weight(w) {}
  Orba::String const name;
  U32 const weight;
  TypeDesc const* typeData() const override { return &typeDesc(); }
  static TypeDesc const& typeDesc() {
    return Kiv::typeBuiltOnce<Part>([](TypeDesc& t) {
      t = Kiv::entityType("CoreTest::Part");
      t.attrs = {{.id = 9101,
                  .name = "name",
                  .type = &TypeOf<std::string>::desc(),
                  .get = [](Orba::Node const& n) { return Value::of(self<Part>(n).name); }}};
    });
  }
};

class Widget : public Orba::Node {
 public:
  Widget(Orba::String n, U32 s) : name(std::move(n)), size(s) {}
  Orba::String const name;
  U32 size;
  Colour colour = Colour::red;
  Orba::Ptr<Widget> peer;
  std::map<U32, Orba::String> label;
  std::map<Orba::String, Orba::Ptr<Part>> part;

  Orba::Ptr<Part> partIs(Orba::String const& n, U32 weight) {
    if (n.empty())
      Kiv::throwMutatorNullArgument("name", "CoreTest::Part", "part");
    auto& p = part[n];
    if (!p) {
      p = Orba::make<Part>(n, weight);
    } else if (p->weight != weight) {
      Kiv::throwMutatorReinstantiating("CoreTest::Part", "weight", std::to_string(p->weight),
                                       std::to_string(weight));
    }
    return p;
  }

  TypeDesc const* typeData() const override { return &typeDesc(); }
  static TypeDesc const& typeDesc();
};

TypeDesc const& Widget::typeDesc() {
  return Kiv::typeBuiltOnce<Widget>([](TypeDesc& t) {
    auto const* u32 = &TypeOf<U32>::desc();
    auto const* str = &TypeOf<std::string>::desc();
    t = Kiv::entityType("CoreTest::Widget");
    t.attrs = {
        {.id = 9001,
         .name = "name",
         .type = str,
         .get = [](Orba::Node const& n) { return Value::of(self<Widget>(n).name); }},
        {.id = 9002,
         .name = "size",
         .type = u32,
         .get = [](Orba::Node const& n) { return Value::of(self<Widget>(n).size); },
         .set = [](Orba::Node& n, Value const& v) { self<Widget>(n).size = v.as<U32>(); }},
        {.id = 9003,
         .name = "colour",
         .type = &TypeOf<Colour>::desc(),
         .get = [](Orba::Node const& n) { return Value::of(self<Widget>(n).colour); },
         .set = [](Orba::Node& n, Value const& v) { self<Widget>(n).colour = v.as<Colour>(); }},
        // The table names its own type.
        {.id = 9004,
         .name = "peer",
         .kind = AttrKind::handle,
         .type = &t,
         .get = [](Orba::Node const& n) { return Value::of(self<Widget>(n).peer); },
         .set = [](Orba::Node& n,
                   Value const& v) { self<Widget>(n).peer = Kiv::handleAs<Widget>(v); }},
        {.id = 9005,
         .name = "label",
         .kind = AttrKind::collection,
         .type = str,
         .keyType = u32,
         .params = {{"key", u32}, {"text", str}},
         .lookup =
             [](Orba::Node const& n, Value const& k) {
               auto const& m = self<Widget>(n).label;
               auto it = m.find(k.as<U32>());
               return it == m.end() ? Value() : Value::of(it->second);
             },
         .insert =
             [](Orba::Node& n, std::vector<Value> const& a) {
               return Value::of(self<Widget>(n).label[a[0].as<U32>()] = a[1].as<std::string>());
             },
         .del =
             [](Orba::Node& n, Value const& k) {
               self<Widget>(n).label.erase(k.as<U32>());
               return Value();
             },
         .count = [](Orba::Node const& n) { return self<Widget>(n).label.size(); },
         .members =
             [](Orba::Node const& n) {
               std::vector<std::pair<Value, Value>> r;
               for (auto const& [k, v] : self<Widget>(n).label)
                 r.emplace_back(Value::of(k), Value::of(v));
               return r;
             }},
        {.id = 9006,
         .name = "part",
         .kind = AttrKind::instantiating,
         .type = &Part::typeDesc(),
         .keyType = str,
         .params = {{"name", str}, {"weight", u32}},
         .lookup =
             [](Orba::Node const& n, Value const& k) {
               auto const& m = self<Widget>(n).part;
               auto it = m.find(k.as<std::string>());
               return it == m.end() ? Value() : Value::of(it->second);
             },
         .insert =
             [](Orba::Node& n, std::vector<Value> const& a) {
               return Value::of(self<Widget>(n).partIs(a[0].as<std::string>(), a[1].as<U32>()));
             },
         .count = [](Orba::Node const& n) { return self<Widget>(n).part.size(); }},
        {.id = 9007,
         .name = "grow",
         .kind = AttrKind::operation,
         .type = u32,
         .params = {{"by", u32}},
         .call =
             [](Orba::Node& n, std::vector<Value> const& a) {
               return Value::of(self<Widget>(n).size += a[0].as<U32>());
             }},
    };
    t.ctorParams = {{"name", str}, {"size", u32}};
    t.construct = [](std::vector<Value> const& a) {
      return Value::of(Orba::make<Widget>(a[0].as<std::string>(), a[1].as<U32>()));
    };
  });
}

class Gadget : public Widget {
 public:
  using Widget::Widget;
  TypeDesc const* typeData() const override { return &typeDesc(); }
  static TypeDesc const& typeDesc() {
    return Kiv::typeBuiltOnce<Gadget>([](TypeDesc& t) {
      t = Kiv::entityType("CoreTest::Gadget", &Widget::typeDesc());
      t.ctorParams = Widget::typeDesc().ctorParams;
      t.construct = [](std::vector<Value> const& a) {
        return Value::of(Orba::make<Gadget>(a[0].as<std::string>(), a[1].as<U32>()));
      };
    });
  }
};

Kiv::TypeModule const types{&Widget::typeDesc(), &Gadget::typeDesc(), &Part::typeDesc()};

}  // namespace CoreTest

namespace {

using namespace CoreTest;
namespace G = Kiv::Generic;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Runs f and returns the message of the Kiv::AttributeError it raises.
template <class F>
std::string attrError(F f) {
  try {
    f();
  } catch (Kiv::AttributeError const& e) {
    return e.what();
  }
  return "(no AttributeError)";
}

Value u32(U32 v) {
  return Value::of(v);
}
Value str(char const* s) {
  return Value::of(std::string(s));
}

TEST(GenericTest, ValueAttributesReadWriteAndText) {
  auto w = Orba::make<Widget>("w1", 3);
  EXPECT_EQ(G::get(*w, "name"), str("w1"));
  G::set(*w, "size", u32(5));
  EXPECT_EQ(w->size, 5u);
  G::setText(*w, "size", "0x10");
  EXPECT_EQ(G::get(*w, "size").text(), "16");
  G::setText(*w, "colour", "blue");
  EXPECT_EQ(w->colour, Colour::blue);
  G::setText(*w, "colour", "1");
  EXPECT_EQ(G::get(*w, "colour").text(), "green");
  w->colour = Colour{5};  // a number without a name prints as the number
  EXPECT_EQ(G::get(*w, "colour").text(), "5");

  EXPECT_EQ(attrError([&] { G::setText(*w, "size", "4294967296"); }),
            "'4294967296' is not a valid U32");
  EXPECT_EQ(attrError([&] { G::setText(*w, "size", "12abc"); }), "'12abc' is not a valid U32");
  EXPECT_EQ(attrError([&] { G::setText(*w, "colour", "purple"); }),
            "'purple' is not a CoreTest::Colour (one of red, green, blue)");
  EXPECT_EQ(attrError([&] { G::set(*w, "size", str("5")); }),
            "writing size of CoreTest::Widget: argument size must be U32, got Orba::String 5");
  EXPECT_EQ(attrError([&] { G::set(*w, "colour", Value::of(Kiv::U8{1})); }),
            "writing colour of CoreTest::Widget: argument colour must be CoreTest::Colour, got "
            "U8 1");
  EXPECT_EQ(attrError([&] { G::set(*w, "size", Value()); }),
            "writing size of CoreTest::Widget: argument size must be U32, got none");
  EXPECT_EQ(attrError([&] { G::set(*w, "name", str("x")); }),
            "attribute name of CoreTest::Widget (value) cannot be written");
  EXPECT_EQ(attrError([&] { G::setText(*w, "name", "x"); }),
            "attribute name of CoreTest::Widget (value) cannot be written");
  EXPECT_EQ(attrError([&] { G::get(*w, "nope"); }), "type CoreTest::Widget has no attribute nope");
  EXPECT_EQ(attrError([&] { G::setText(*w, "peer", "w2"); }),
            "a value of type CoreTest::Widget cannot be given as text");
  EXPECT_EQ(attrError([&] { (void)str("x").as<U32>(); }),
            "expected a value of type U32, got Orba::String x");
  EXPECT_EQ(w->size, 16u);
  EXPECT_EQ(w->name, "w1");

  // Attributes of a derived type come through its base's table, in order.
  auto g = Orba::make<Gadget>("g", 1);
  std::vector<std::string> names;
  for (auto const* a : G::attributes(*g))
    names.push_back(a->name);
  EXPECT_THAT(names, ElementsAre("name", "size", "colour", "peer", "label", "part", "grow"));
  G::setText(*g, "size", "2");
  EXPECT_EQ(g->size, 2u);

  // Seconds read back as the number they print; unusable times are refused.
  auto const* secs = &TypeOf<Kiv::Seconds>::desc();
  for (char const* text : {"2", "0.1", "2.0000001", "1e-09"}) {
    EXPECT_EQ(Kiv::parseValue(secs, text).text(), text);
  }
  for (char const* bad : {"nan", "inf", " 2", "2s", ""}) {
    EXPECT_THROW(Kiv::parseValue(secs, bad), Kiv::AttributeError) << bad;
  }
}

TEST(GenericTest, CollectionsAndOperations) {
  auto w = Orba::make<Widget>("w1", 5);
  G::insert(*w, "label", {u32(20), str("twenty")});
  G::insert(*w, "label", {u32(3), str("three")});
  G::insert(*w, "label", {u32(20), str("XX")});  // overwrites
  EXPECT_EQ(G::lookup(*w, "label", u32(20)), str("XX"));
  EXPECT_TRUE(G::has(*w, "label", u32(3)));
  EXPECT_FALSE(G::has(*w, "label", u32(4)));
  std::vector<std::string> keys;
  for (auto const& [k, v] : G::members(*w, "label"))
    keys.push_back(k.text() + "=" + v.text());
  EXPECT_THAT(keys, ElementsAre("3=three", "20=XX"));
  G::del(*w, "label", u32(3));
  EXPECT_EQ(G::count(*w, "label"), 1u);
  EXPECT_EQ(attrError([&] { G::lookup(*w, "label", str("3")); }),
            "the key of label of CoreTest::Widget is U32, got Orba::String 3");
  EXPECT_EQ(attrError([&] { G::del(*w, "label"); }),
            "the key of label of CoreTest::Widget is U32, got none");
  EXPECT_EQ(attrError([&] { G::insert(*w, "label", {u32(1)}); }),
            "inserting into label of CoreTest::Widget takes 2 arguments, 1 given");

  // Instantiating: the same arguments give the same member; the entity's own
  // mutator exceptions pass through.
  auto p = G::insert(*w, "part", {str("p"), u32(3)});
  EXPECT_EQ(G::insert(*w, "part", {str("p"), u32(3)}), p);
  EXPECT_EQ(Kiv::handleAs<Part>(p)->weight, 3u);
  EXPECT_THROW(G::insert(*w, "part", {str("p"), u32(4)}), Kiv::ReinstantiationException);
  EXPECT_THROW(G::insert(*w, "part", {str(""), u32(4)}), Kiv::NullArgumentException);
  EXPECT_EQ(G::count(*w, "part"), 1u);
  EXPECT_EQ(attrError([&] { G::del(*w, "part", str("p")); }),
            "attribute part of CoreTest::Widget (instantiating) cannot be deleted");

  EXPECT_EQ(G::call(*w, "grow", {u32(2)}), u32(7));
  EXPECT_EQ(attrError([&] { G::call(*w, "grow"); }),
            "calling grow of CoreTest::Widget takes 1 argument, 0 given");
  EXPECT_EQ(attrError([&] {
              G::call(*w, "grow", {u32(1), u32(2)});
            }),
            "calling grow of CoreTest::Widget takes 1 argument, 2 given");
  EXPECT_EQ(attrError([&] { G::call(*w, "size"); }),
            "attribute size of CoreTest::Widget (value) cannot be called");
  EXPECT_EQ(attrError([&] { G::get(*w, "grow"); }),
            "attribute grow of CoreTest::Widget (operation) cannot be read");
  EXPECT_EQ(attrError([&] { G::count(*w, "grow"); }),
            "attribute grow of CoreTest::Widget (operation) cannot be counted");
  EXPECT_EQ(w->size, 7u);
}

TEST(GenericTest, HandleArgumentsAndConstruction) {
  auto w = Orba::make<Widget>("w", 1);
  auto g = Orba::make<Gadget>("g", 2);
  G::set(*w, "peer", Value::of(g));  // a derived type is a Widget
  EXPECT_EQ(w->peer, g);
  G::set(*w, "peer", Value::of(w));
  EXPECT_EQ(w->peer, w);
  auto dir = Kiv::Dir::DirIs("d");
  EXPECT_EQ(attrError([&] { G::set(*w, "peer", Value::of(dir)); }),
            "writing peer of CoreTest::Widget: argument peer must be CoreTest::Widget, got "
            "Kiv::Dir d");
  EXPECT_EQ(attrError([&] { G::set(*w, "peer", str("g")); }),
            "writing peer of CoreTest::Widget: argument peer must be CoreTest::Widget, got "
            "Orba::String g");
  EXPECT_EQ(attrError([&] { (void)Kiv::handleAs<Gadget>(Value::of(w)); }),
            "expected a handle to CoreTest::Gadget, got w");
  G::set(*w, "peer", Value::of(Orba::Ptr<Widget>()));
  EXPECT_FALSE(w->peer);
  w->peer = nullptr;  // break the cycle made above

  auto made = G::construct("CoreTest::Gadget", {str("made"), u32(9)});
  EXPECT_EQ(made.type(), &Gadget::typeDesc());
  EXPECT_EQ(G::get(*Kiv::handleAs<Widget>(made), "size"), u32(9));
  auto viaText = G::construct(
      "CoreTest::Widget",
      G::parseArgs(Widget::typeDesc().ctorParams, {"t", "0x20"}, "constructing CoreTest::Widget"));
  EXPECT_EQ(Kiv::handleAs<Widget>(viaText)->size, 32u);
  EXPECT_EQ(attrError([&] {
              G::construct("CoreTest::Widget", {str("x"), u32(1), u32(2)});
            }),
            "constructing CoreTest::Widget takes 2 arguments, 3 given");
  EXPECT_EQ(attrError([&] {
              G::construct("CoreTest::Widget", {u32(1), u32(2)});
            }),
            "constructing CoreTest::Widget: argument name must be Orba::String, got U32 1");
  EXPECT_EQ(attrError([&] { G::construct("CoreTest::Nope", {}); }), "no type named CoreTest::Nope");
  EXPECT_EQ(attrError([&] { G::construct("CoreTest::Part", {}); }),
            "type CoreTest::Part cannot be constructed generically");
  EXPECT_EQ(attrError([&] { G::parseArgs(Widget::typeDesc().ctorParams, {"t"}, "making t"); }),
            "making t takes 2 arguments, 1 given");
  EXPECT_TRUE(Gadget::typeDesc().isA(&Widget::typeDesc()));
  EXPECT_FALSE(Widget::typeDesc().isA(&Gadget::typeDesc()));
}

TEST(EnumTest, ValuesFromNumbersAndNames) {
  auto const& n = colourNames();
  EXPECT_EQ(n.value("blue"), 7);
  EXPECT_EQ(n.value("7"), 7);
  EXPECT_EQ(n.value("200"), 200);  // a number needs no name
  EXPECT_EQ(n.value("256"), std::nullopt);
  EXPECT_EQ(n.value(""), std::nullopt);
  EXPECT_EQ(n.value("Blue"), std::nullopt);
  EXPECT_EQ(n.value("-1"), std::nullopt);
  EXPECT_STREQ(n.name(1), "green");
  EXPECT_EQ(n.name(2), nullptr);
  EXPECT_EQ(attrError([&] { n.parse("1x"); }),
            "'1x' is not a CoreTest::Colour (one of red, green, blue)");
  auto const& t = TypeOf<Colour>::desc();
  EXPECT_EQ(Kiv::parseValue(&t, "green"), Value::of(Colour::green));
  EXPECT_EQ(t.kind, Kiv::TypeKind::enumeration);
}

TEST(ErrorsTest, MutatorExceptionsNameWhatAndWhere) {
  try {
    Kiv::throwMutatorNullArgument("config", "Interface::EthPhyIntfConfig", "intfConfig");
  } catch (Kiv::NullArgumentException const& e) {
    EXPECT_EQ(e.argument, "config");
    EXPECT_EQ(e.type, "Interface::EthPhyIntfConfig");
    EXPECT_EQ(e.attribute, "intfConfig");
    EXPECT_STREQ(e.what(),
                 "null argument 'config' for attribute intfConfig of Interface::EthPhyIntfConfig");
  }
  try {
    Kiv::throwMutatorReinstantiating("CoreTest::Part", "weight", "3", "4");
  } catch (Kiv::MutatorException const& e) {
    EXPECT_STREQ(e.what(),
                 "re-instantiation of CoreTest::Part with a different weight: existing 3, "
                 "requested 4");
  }
  try {
    Kiv::throwMutatorUnexpectedArguments("CoreTest::Part", 3, 2, "part");
  } catch (Kiv::UnexpectedArgumentsException const& e) {
    EXPECT_EQ(e.type, "CoreTest::Part");
    EXPECT_EQ(e.attribute, "part");
    EXPECT_EQ(e.given, 3u);
    EXPECT_EQ(e.expected, 2u);
    EXPECT_STREQ(e.what(),
                 "unexpected creation arguments for CoreTest::Part in part: 3 given, 2 taken");
  }
  EXPECT_THROW(Kiv::throwMutatorUnexpectedArguments("T", 1, 0), Kiv::MutatorException);
}

}  // namespace
