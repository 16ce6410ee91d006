#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "platform/kiv/AttrTable.h"
#include "platform/kiv/Dir.h"
#include "platform/kiv/Enum.h"
#include "platform/kiv/Errors.h"
#include "platform/kiv/Generic.h"

// A small entity type with one attribute of most shapes: a read-only name,
// a writable size and colour, a handle to a peer, a keyed collection of
// labels and an operation. Gadget derives from Widget and adds nothing.
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

using Kiv::self;
using Kiv::TypeDesc;
using Kiv::TypeOf;
using Kiv::U32;
using Kiv::Value;

class Widget : public Orba::Node {
 public:
  Widget(Orba::String n, U32 s) : name(std::move(n)), size(s) {}
  Orba::String const name;
  U32 size;
  Colour colour = Colour::red;
  Orba::Ptr<Widget> peer;
  std::map<U32, Orba::String> label;

  TypeDesc const* typeData() const override { return &typeDesc(); }
  static TypeDesc const& typeDesc();
};

TypeDesc const& Widget::typeDesc() {
  return Kiv::typeBuiltOnce<Widget>([](TypeDesc& t) {
    auto const* u32 = &TypeOf<U32>::desc();
    auto const* str = &TypeOf<std::string>::desc();
    t = Kiv::entityType("CoreTest::Widget");
    using W = Widget;
    t.attrs = {
        Kiv::readOnly<std::string>(9001, "name",
                                   [](Orba::Node const& n) { return Value::of(self<W>(n).name); }),
        Kiv::readWrite<U32>(
            9002, "size", [](Orba::Node const& n) { return Value::of(self<W>(n).size); },
            [](Orba::Node& n, Value const& v) { self<W>(n).size = v.as<U32>(); }),
        Kiv::readWrite<Colour>(
            9003, "colour", [](Orba::Node const& n) { return Value::of(self<W>(n).colour); },
            [](Orba::Node& n, Value const& v) { self<W>(n).colour = v.as<Colour>(); }),
        // The table names its own type.
        Kiv::handleTo(
            &t, 9004, "peer", [](Orba::Node const& n) { return Value::of(self<W>(n).peer); },
            [](Orba::Node& n, Value const& v) { self<W>(n).peer = Kiv::handleAs<W>(v); }),
        Kiv::collection(
            9005, "label", str, u32,
            {.params = {{"key", u32}, {"text", str}},
             .lookup =
                 [](Orba::Node const& n, Value const& k) {
                   auto const& m = self<W>(n).label;
                   auto it = m.find(k.as<U32>());
                   return it == m.end() ? Value() : Value::of(it->second);
                 },
             .insert =
                 [](Orba::Node& n, std::vector<Value> const& a) {
                   return Value::of(self<W>(n).label[a[0].as<U32>()] = a[1].as<std::string>());
                 },
             .del =
                 [](Orba::Node& n, Value const& k) {
                   self<W>(n).label.erase(k.as<U32>());
                   return Value();
                 },
             .count = [](Orba::Node const& n) { return self<W>(n).label.size(); },
             .members = [](Orba::Node const& n) { return Kiv::membersOf(self<W>(n).label); }}),
        Kiv::operation(
            9007, "grow", {{"by", u32}},
            [](Orba::Node& n, std::vector<Value> const& a) {
              return Value::of(self<W>(n).size += a[0].as<U32>());
            },
            u32),
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

Kiv::TypeModule const types{&Widget::typeDesc(), &Gadget::typeDesc(), &TypeOf<Colour>::desc()};

}  // namespace CoreTest

namespace {

using namespace CoreTest;
namespace G = Kiv::Generic;
using ::testing::ElementsAre;

Value u32(U32 v) {
  return Value::of(v);
}
Value str(char const* s) {
  return Value::of(std::string(s));
}

TEST(GenericTest, ValuesCollectionsHandlesAndConstruction) {
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
  G::setText(*w, "colour", "200");  // a number needs no name, and prints as the number
  EXPECT_EQ(G::get(*w, "colour").text(), "200");

  // Seconds read back as the number they print; unusable times are refused.
  auto const* secs = &TypeOf<Kiv::Seconds>::desc();
  for (char const* text : {"2", "0.1", "2.0000001", "1e-09"})
    EXPECT_EQ(Kiv::parseValue(secs, text).text(), text);
  for (char const* bad : {"nan", "inf", " 2", "2s", ""})
    EXPECT_THROW(Kiv::parseValue(secs, bad), Kiv::AttributeError) << bad;

  G::insert(*w, "label", {u32(20), str("twenty")});
  G::insert(*w, "label", {u32(3), str("three")});
  G::insert(*w, "label", {u32(20), str("XX")});  // overwrites
  G::del(*w, "label", u32(3));
  EXPECT_FALSE(G::has(*w, "label", u32(3)));
  EXPECT_EQ(G::members(*w, "label"), (std::vector<std::pair<Value, Value>>{{u32(20), str("XX")}}));
  EXPECT_EQ(G::call(*w, "grow", {u32(2)}), u32(18));

  // Attributes of a derived type come through its base's table, in order; a
  // handle of the derived type is one of the base type.
  auto g = Orba::make<Gadget>("g", 1);
  std::vector<std::string> names;
  for (auto const* a : G::attributes(*g))
    names.push_back(a->name);
  EXPECT_THAT(names, ElementsAre("name", "size", "colour", "peer", "label", "grow"));
  G::set(*w, "peer", Value::of(g));
  EXPECT_EQ(w->peer, g);
  G::set(*w, "peer", Value::of(Orba::Ptr<Widget>()));
  EXPECT_FALSE(w->peer);

  auto made = G::construct("CoreTest::Gadget", {str("made"), u32(9)});
  EXPECT_EQ(made.type(), &Gadget::typeDesc());
  EXPECT_EQ(Kiv::handleAs<Widget>(made)->size, 9u);
  auto viaText = G::construct(
      "CoreTest::Widget",
      G::parseArgs(Widget::typeDesc().ctorParams, {"t", "0x20"}, "constructing CoreTest::Widget"));
  EXPECT_EQ(Kiv::handleAs<Widget>(viaText)->size, 32u);
}

// The texts of the errors, which reach the users of the generic interface
// as they stand: one of each kind of refusal.
TEST(GenericTest, ErrorTexts) {
  auto w = Orba::make<Widget>("w", 1);
  auto dir = Kiv::Dir::DirIs("d");
  auto const what = [](auto&& f) -> std::string {
    try {
      f();
    } catch (Kiv::AttributeError const& e) {
      return e.what();
    }
    return "(no error)";
  };
  std::vector<std::pair<std::function<void()>, std::string>> const cases{
      {[&] { G::setText(*w, "size", "4294967296"); }, "'4294967296' is not a valid U32"},
      {[&] { G::setText(*w, "colour", "purple"); },
       "'purple' is not a CoreTest::Colour (one of red, green, blue)"},
      {[&] { G::setText(*w, "colour", "256"); },
       "'256' is not a CoreTest::Colour (one of red, green, blue)"},
      {[&] { G::set(*w, "size", str("5")); },
       "writing size of CoreTest::Widget: argument size must be U32, got Orba::String 5"},
      {[&] { G::set(*w, "colour", Value::of(Kiv::U8{1})); },
       "writing colour of CoreTest::Widget: argument colour must be CoreTest::Colour, got U8 1"},
      {[&] { G::set(*w, "name", str("x")); },
       "attribute name of CoreTest::Widget (value) cannot be written"},
      {[&] { G::get(*w, "nope"); }, "type CoreTest::Widget has no attribute nope"},
      {[&] { G::setText(*w, "peer", "w2"); },
       "a value of type CoreTest::Widget cannot be given as text"},
      {[&] { G::set(*w, "peer", Value::of(dir)); },
       "writing peer of CoreTest::Widget: argument peer must be CoreTest::Widget, got Kiv::Dir d"},
      {[&] { (void)Kiv::handleAs<Gadget>(Value::of(w)); },
       "expected a handle to CoreTest::Gadget, got w"},
      {[&] { G::lookup(*w, "label", str("3")); },
       "the key of label of CoreTest::Widget is U32, got Orba::String 3"},
      {[&] { G::call(*w, "grow"); }, "calling grow of CoreTest::Widget takes 1 argument, 0 given"},
      {[&] { G::get(*w, "grow"); },
       "attribute grow of CoreTest::Widget (operation) cannot be read"},
      {[&] {
         G::construct("CoreTest::Widget", {u32(1), u32(2)});
       },
       "constructing CoreTest::Widget: argument name must be Orba::String, got U32 1"},
      {[&] { G::construct("CoreTest::Nope", {}); }, "no type named CoreTest::Nope"},
      {[&] { G::construct("CoreTest::Colour", {}); },
       "type CoreTest::Colour cannot be constructed generically"},
  };
  for (auto const& [f, text] : cases)
    EXPECT_EQ(what(f), text);
  // Nothing was changed by the refused writes.
  EXPECT_EQ(w->size, 1u);
  EXPECT_EQ(w->colour, Colour::red);
}

}  // namespace
