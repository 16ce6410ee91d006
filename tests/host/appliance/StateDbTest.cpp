// The state database built from an appliance: what the agent mounts, and
// the host's changes reaching the entities.

#include <gtest/gtest.h>

#include "host/appliance/StateDb.h"
#include "tests/host/HostTestSupport.h"

namespace {

using HostTest::twoInterfaces;

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
  EXPECT_EQ(db.config().ham()->bus(db.config().busBits()).get(), &db.bus());
  EXPECT_TRUE(db.chip().link(1));
  EXPECT_FALSE(db.chip().link(2));

  auto slice = db.slice("slice1");
  ASSERT_TRUE(slice);
  EXPECT_EQ(slice->intfConfig(Lanx::IntfId("Management2"))->enabledState(),
            Interface::IntfEnabledState::disabled);
}

// The bus bits select the switch's bus in the access handle, whichever bus
// the file names: the agent reaches the chip on bus 3 as on bus 0.
TEST(StateDb, HostChangesReachTheEntitiesAndNotify) {
  auto a = twoInterfaces();
  a.ham = false;
  a.bus = 3;
  Host::StateDb db(a);
  EXPECT_FALSE(db.config().ham());
  EXPECT_EQ(db.config().busBits(), 8u);

  std::vector<Kiv::AttributeId> seen;
  Orba::SubscriberSlot slot([&](Kiv::AttributeId id, void const*) { seen.push_back(id); });
  db.config().publisher()->subscriberAdd(slot);
  db.hamPresentIs(true);
  auto first = db.config().ham();
  EXPECT_EQ(first->bus(db.config().busBits()).get(), &db.bus());
  db.hamReplace();
  EXPECT_NE(db.config().ham(), first);
  EXPECT_EQ(seen, (std::vector<Kiv::AttributeId>{Hardware::Bcm53134::Config::hamAttrId(),
                                                 Hardware::Bcm53134::Config::hamAttrId()}));

  // A removed position is reused by the next addition. (The slice mutators
  // are the reload's: its tests apply every kind of change through them.)
  EXPECT_TRUE(db.mgmtInterfaceDel("Management1"));
  EXPECT_FALSE(db.mgmtInterfaceDel("Management1"));
  EXPECT_EQ(db.mgmtInterfaceAdd({"Management3", "mgmt3", 3, 7}), 0);
  EXPECT_EQ(db.mgmtInterfaces().at(0).intfId, "Management3");
}

TEST(StateDb, OnARealBusThereIsNoSimulatedChip) {
  auto a = twoInterfaces();
  a.links.clear();
  a.mdio = Host::MdioTransport::miiIoctl;
  a.mdioNetdev = "eth9";
  Host::StateDb db(a);  // opening the bus touches no netdevice
  EXPECT_FALSE(db.hasChip());
  EXPECT_EQ(db.bus().description(), "MII ioctls on eth9");
  EXPECT_EQ(db.config().ham()->bus(db.config().busBits()).get(), &db.bus());
  try {
    db.chip();
    ADD_FAILURE();
  } catch (std::runtime_error const& e) {
    EXPECT_STREQ(e.what(), "there is no simulated chip: the MDIO bus is MII ioctls on eth9");
  }
  db.hamReplace();
  EXPECT_EQ(db.config().ham()->bus(db.config().busBits()).get(), &db.bus());
}

}  // namespace
