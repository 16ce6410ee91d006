// The state database built from an appliance, the status export and the
// generic attribute paths over it.

#include <gtest/gtest.h>

#include <filesystem>

#include "host/AttrPath.h"
#include "host/StateDb.h"
#include "host/StatusExport.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/Loop.h"

namespace {

using Hardware::Bcm53134::LinkStatus;

// Two management interfaces, ports 1/5 (CPU netdevice mgmt1) and 2/6 (none);
// one slice; port 1 up; ham present on bus 0.
Host::ApplianceDesc twoInterfaces() {
  Host::ApplianceDesc a;
  a.file = "test";
  a.mgmtInterfaces = {{"Management1", "mgmt1", 1, 5}, {"Management2", "", 2, 6}};
  a.slices = {{"slice1",
               {{"Management1", Interface::IntfEnabledState::enabled},
                {"Management2", Interface::IntfEnabledState::disabled}}}};
  a.links = {{1, true}};
  return a;
}

TEST(StateDb, HoldsWhatTheAgentMountsUnderItsPaths) {
  Host::StateDb db(twoInterfaces());
  auto& em = *Stratum::EntityManager::local();
  EXPECT_EQ(&em, &db.entityManager());
  auto const* profile = em.mountProfile("Bcm53134Agent");
  ASSERT_NE(profile, nullptr);
  EXPECT_EQ(*profile, (std::vector<std::string>{Cell::path("hardware/bcm53134/config", 0),
                                                Cell::path("hardware/bcm53134/status", 0),
                                                "interface/config/eth/phy/slice"}));
  EXPECT_EQ(em.getEntity(Cell::path("hardware/bcm53134/config", 0)).get(), &db.config());
  EXPECT_EQ(em.getEntity(Cell::path("hardware/bcm53134/status", 0)).get(), &db.status());
  EXPECT_EQ(em.getEntity("interface/config/eth/phy/slice").get(), &db.sliceDir());

  // Management interfaces keyed by position, with their ports and names.
  auto const& m = db.config().mgmtInterfaces();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m.at(0)->intfId(), Lanx::IntfId("Management1"));
  EXPECT_EQ(m.at(0)->cpuIntfName(), "mgmt1");
  EXPECT_EQ(m.at(1)->externalPort(), 2);
  EXPECT_EQ(m.at(1)->internalPort(), 6);
  EXPECT_EQ(db.config().busBits(), 1u);

  // The handle reaches the simulated chip on the selected bus.
  ASSERT_TRUE(db.config().ham());
  EXPECT_EQ(db.config().ham()->bus(db.config().busBits()).get(), &db.chip());
  EXPECT_TRUE(db.chip().link(1));
  EXPECT_FALSE(db.chip().link(2));

  auto slice = db.slice("slice1");
  ASSERT_TRUE(slice);
  EXPECT_EQ(slice->intfConfig(Lanx::IntfId("Management2"))->enabledState(),
            Interface::IntfEnabledState::disabled);
}

TEST(StateDb, HostChangesReachTheEntitiesAndNotify) {
  auto a = twoInterfaces();
  a.ham = false;
  a.bus = 1;
  Host::StateDb db(a);
  EXPECT_FALSE(db.config().ham());
  EXPECT_EQ(db.config().busBits(), 2u);

  std::vector<Kiv::AttributeId> seen;
  Orba::SubscriberSlot slot([&](Kiv::AttributeId id, void const*) { seen.push_back(id); });
  db.config().publisher()->subscriberAdd(slot);
  db.hamPresentIs(true);
  auto first = db.config().ham();
  db.hamReplace();
  EXPECT_NE(db.config().ham(), first);
  EXPECT_EQ(seen, (std::vector<Kiv::AttributeId>{Hardware::Bcm53134::Config::hamAttrId(),
                                                 Hardware::Bcm53134::Config::hamAttrId()}));

  // A removed position is reused by the next addition.
  EXPECT_TRUE(db.mgmtInterfaceDel("Management1"));
  EXPECT_FALSE(db.mgmtInterfaceDel("Management1"));
  EXPECT_EQ(db.mgmtInterfaceAdd({"Management3", "mgmt3", 3, 7}), 0);
  EXPECT_EQ(db.mgmtInterfaces().at(0).intfId, "Management3");

  EXPECT_TRUE(db.enabledStateIs("Management2", Interface::IntfEnabledState::enabled));
  EXPECT_FALSE(db.enabledStateIs("Ethernet9", Interface::IntfEnabledState::enabled));
  EXPECT_FALSE(db.sliceAdd({"slice1", {}}));
  EXPECT_TRUE(db.sliceAdd({"slice2", {{"Ethernet9", Interface::IntfEnabledState::disabled}}}));
  EXPECT_EQ(db.enabledState("Ethernet9"), Interface::IntfEnabledState::disabled);
  EXPECT_TRUE(db.intfConfigDel("slice2", "Ethernet9"));
  EXPECT_FALSE(db.intfConfigAdd("slice3", {"Ethernet9", Interface::IntfEnabledState::enabled}));
  EXPECT_TRUE(db.sliceDel("slice2"));
  EXPECT_FALSE(db.slice("slice2"));
}

TEST(StatusExport, ReportsChangesOncePerEventAndKeepsTheJsonFile) {
  TestSupport::resetLoop();
  HostTest::TempDir dir;
  std::string path = dir.path() + "/status.json";
  Host::StateDb db(twoInterfaces());
  std::vector<std::string> reported;
  Host::StatusWatcher w(db.status(), path, [&](std::vector<std::string> const& c) {
    reported.insert(reported.end(), c.begin(), c.end());
    reported.push_back("--");
  });
  w.write();
  EXPECT_NE(HostTest::readFile(path).find("\"ports\": {}"), std::string::npos);

  // A port created and set in one event is one change: no transient 0.
  db.status().portIs(1)->linkStatusIs(LinkStatus::linkUp);
  db.status().portIs(2);
  TestSupport::runUntilIdle();
  EXPECT_EQ(reported, (std::vector<std::string>{"port 1 link status 1 (linkUp)",
                                                "port 2 link status 0 (linkDown)", "--"}));
  EXPECT_EQ(HostTest::readFile(path), R"({
  "time": 0,
  "error": "",
  "ports": {
    "1": {"linkStatus": 1, "link": "linkUp"},
    "2": {"linkStatus": 0, "link": "linkDown"}
  }
}
)");
  reported.clear();
  db.status().errorIs("XID 7: Poll error in state readingRegVals: \"bus\"\n");
  db.status().portDelAll();
  TestSupport::runUntilIdle();
  EXPECT_EQ(reported,
            (std::vector<std::string>{"error: XID 7: Poll error in state readingRegVals: \"bus\"\n",
                                      "port 1 removed", "port 2 removed", "--"}));
  EXPECT_NE(HostTest::readFile(path).find(
                R"("error": "XID 7: Poll error in state readingRegVals: \"bus\"\n")"),
            std::string::npos);
  // Nothing but the file itself is left in the directory.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(StatusExport, UnwritableFileIsReported) {
  EXPECT_THROW(Host::writeFileAtomically("/nonexistent/dir/status.json", "{}"), std::runtime_error);
}

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
