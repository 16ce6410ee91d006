// Attribute paths: parsing, and walking entities through the generic
// attribute interface.

#include <gtest/gtest.h>

#include "host/appliance/StateDb.h"
#include "host/attr/AttrPath.h"
#include "tests/host/HostTestSupport.h"

namespace {

using Hardware::Bcm53134::LinkStatus;
using HostTest::twoInterfaces;

TEST(AttrPath, StepsAndKeysParse) {
  auto s = Host::parsePath("a.b[Bcm::Id(page=1, addr=[2])].c");
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[1].name, "b");
  EXPECT_EQ(*s[1].key, "Bcm::Id(page=1, addr=[2])");
  EXPECT_FALSE(s[2].key);
  for (auto const* bad : {"", "a.", ".a", "a[1", "a[1]b", "a..b", "a-b"})
    EXPECT_THROW(Host::parsePath(bad), std::invalid_argument) << bad;
}

TEST(AttrPath, WalksEntitiesThroughTheGenericInterface) {
  Host::StateDb db(twoInterfaces());
  db.status().portIs(1)->linkStatusIs(LinkStatus::linkUp);
  auto& root = db.status();
  auto v = Host::readAttr(Host::resolvePath(root, "port[1].linkStatus"));
  EXPECT_TRUE(Host::valueMatches(v, "linkUp"));
  EXPECT_TRUE(Host::valueMatches(v, "1"));
  EXPECT_FALSE(Host::valueMatches(v, "0"));
  EXPECT_TRUE(Host::valueMatches(Host::readAttr(Host::resolvePath(root, "port[2]")), "absent"));
  EXPECT_EQ(Host::valueText(Host::readAttr(Host::resolvePath(root, "port[0x2]"))), "absent");

  auto why = [&](std::string const& path) {
    try {
      Host::readAttr(Host::resolvePath(root, path));
    } catch (Kiv::AttributeError const& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(why("port[2].linkStatus"), "port[2].linkStatus: port[2] is absent");
  EXPECT_EQ(why("error.x"), "error.x: error is not an entity ()");
  EXPECT_EQ(why("error[1]"), "error[1]: error is not a keyed collection");
  EXPECT_EQ(why("port[one]"), "'one' is not a valid U8");
  EXPECT_EQ(why("nothing"), "type Hardware::Bcm53134::Status has no attribute nothing");
}

}  // namespace
