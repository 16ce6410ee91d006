#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ios>
#include <stdexcept>
#include <string>

#include "platform/kiv/Dir.h"
#include "platform/kiv/Trace.h"
#include "tests/support/Loop.h"

namespace {

using ::testing::ElementsAre;

Kiv::TraceHandle& th() {
  static Kiv::TraceHandle h("CoreTestTrace");
  return h;
}
Kiv::TraceHandle& other() {
  static Kiv::TraceHandle h("CoreTestOther");
  return h;
}

// Counts how often it is formatted.
struct Costly {
  int* formatted;
};
std::ostream& operator<<(std::ostream& os, Costly const& c) {
  ++*c.formatted;
  return os << "costly";
}

TEST(TraceTest, LevelMasksAndSpecs) {
  TestSupport::TraceCapture capture;
  th().maskIs(0);
  other().maskIs(0);
  Kiv::TraceHandle::maskSpecIs("CoreTestTrace/0,1,8 CoreTestOther/2-4");
  EXPECT_EQ(th().mask(), 0x103u);
  EXPECT_EQ(other().mask(), 0x1cu);
  EXPECT_TRUE(th().enabled(8));
  EXPECT_FALSE(th().enabled(2));
  EXPECT_FALSE(th().enabled(40));

  // A bad spec changes nothing, not even its good words.
  for (char const* bad : {"CoreTestTrace/9 CoreTestOther/x", "CoreTestTrace", "/1",
                          "CoreTestTrace/32", "CoreTestTrace/5-3"}) {
    EXPECT_THROW(Kiv::TraceHandle::maskSpecIs(bad), std::invalid_argument) << bad;
  }
  EXPECT_EQ(th().mask(), 0x103u);
  EXPECT_EQ(other().mask(), 0x1cu);

  // A facility named before its handle exists takes its levels when created.
  Kiv::TraceHandle::maskSpecIs("CoreTestLate/3");
  static Kiv::TraceHandle late("CoreTestLate");
  EXPECT_EQ(late.mask(), 0x8u);

  // "*" names every facility, present and future, and later words win.
  Kiv::TraceHandle::maskSpecIs("CoreTestTrace/1 */0 CoreTestOther/none");
  EXPECT_EQ(th().mask(), 0x1u);
  EXPECT_EQ(late.mask(), 0x1u);
  EXPECT_EQ(other().mask(), 0u);
  Kiv::TraceHandle::maskSpecIs("CoreTestNew/5 */6");
  static Kiv::TraceHandle fresh("CoreTestNew");
  EXPECT_EQ(fresh.mask(), 0x40u);
  // A handle that went away is left out of later specs.
  { Kiv::TraceHandle temp("CoreTestTemp"); }
  Kiv::TraceHandle::maskSpecIs("*/none");
}

int traceFromHelper(void const* self) {
  int line = __LINE__ + 1;
  KIV_TRACE(th(), 1) << self << "::"
                     << "readRegVals"
                     << ": XID " << 26u << ": reading register page 0x" << 17 << " addr 0x"
                     << Kiv::U8{32} << " size " << 2 << " at " << -3;
  return line;
}

TEST(TraceTest, LineTextPrefixAndStickyHex) {
  TestSupport::TraceCapture capture("CoreTestTrace/1");
  int obj = 0;
  int line = traceFromHelper(&obj);
  ASSERT_EQ(capture.sink.lines.size(), 1u);
  std::ostringstream addr;
  addr << static_cast<void const*>(&obj);
  EXPECT_EQ(capture.sink.lines[0], "TraceTest.cpp:" + std::to_string(line) +
                                       " traceFromHelper: " + addr.str() +
                                       "::readRegVals: XID 26: reading register page 0x11 addr "
                                       "0x20 size 2 at -3");
  EXPECT_THAT(capture.sink.messages(),
              ElementsAre("ADDR::readRegVals: XID 26: reading register page 0x11 addr 0x20 size 2 "
                          "at -3"));

  // Hexadecimal is per line, and only a number right after "0x" starts it.
  capture.sink.clear();
  KIV_TRACE(th(), 1) << "0" << 10 << " x" << 11 << " 0x" << std::string("") << 12;
  KIV_TRACE(th(), 1) << 26 << " 0x" << std::uint64_t{0xBEEF} << " " << 255 << " " << true;
  KIV_TRACE(th(), 1) << 26 << " " << std::hex << 26 << " " << std::dec << 26;
  auto dir = Kiv::Dir::DirIs("root");
  KIV_TRACE(th(), 1) << *dir << "::doInit"
                     << ": " << 1.5 << " " << 'c';
  EXPECT_THAT(capture.sink.messages(),
              ElementsAre("010 x11 0xc", "26 0xbeef ff true", "26 1a 26", "root::doInit: 1.5 c"));
}

TEST(TraceTest, LevelOffBuildsNothing) {
  TestSupport::TraceCapture capture("CoreTestTrace/0");
  int formatted = 0;
  int evaluated = 0;
  auto arg = [&] { return ++evaluated; };
  KIV_TRACE(th(), 1) << Costly{&formatted} << arg();
  if (formatted == 0)
    KIV_TRACE(th(), 3) << "off";
  else
    ADD_FAILURE() << "the macro swallowed an else";
  EXPECT_EQ(formatted, 0);
  EXPECT_EQ(evaluated, 0);
  EXPECT_TRUE(capture.sink.lines.empty());
  KIV_TRACE(th(), 0) << Costly{&formatted} << " " << arg() << Kiv::_fmt(" %04x|%-3s|", 26u, "ab");
  EXPECT_EQ(formatted, 1);
  EXPECT_THAT(capture.sink.messages(), ElementsAre("costly 1 001a|ab |"));
}

}  // namespace
