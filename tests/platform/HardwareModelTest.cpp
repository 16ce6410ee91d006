#include <gtest/gtest.h>

#include <sstream>
#include <utility>
#include <vector>

#include "platform/hardware/Bcm53134.h"
#include "platform/interface/EthPhyIntfConfig.h"
#include "platform/kiv/Dir.h"
#include "platform/kiv/Errors.h"
#include "platform/kiv/Generic.h"
#include "platform/mdio/Accel.h"
#include "platform/mdio/MdioRegLib.h"
#include "platform/mdio/sim/SimBcm53134.h"
#include "platform/orba/Publisher.h"

namespace {

using Hardware::Bcm53134::Config;
using Hardware::Bcm53134::LinkStatus;
using Hardware::Bcm53134::MgmtInterface;
using Hardware::Bcm53134::PortId;
using Hardware::Bcm53134::Status;

// Records the notifications of one publisher; the key is read as K.
template <class K>
struct Recorder {
  explicit Recorder(Orba::Publisher* p) {
    slot.callbackIs([this](Kiv::AttributeId id, void const* key) {
      seen.emplace_back(id, key ? *static_cast<K const*>(key) : K{});
      keyed.push_back(key != nullptr);
    });
    p->subscriberAdd(slot);
  }
  std::vector<std::pair<Kiv::AttributeId, K>> seen;
  std::vector<bool> keyed;
  Orba::SubscriberSlot slot;
};

TEST(HardwareConfig, HamIsNotifiedApartAndUnchangedValuesNotifyNobody) {
  auto config = Config::ConfigIs();
  Recorder<PortId> rec(config->publisher());
  auto ham = Fru::Ham::HamIs(Hardware::Mdio::Sim::Bcm53134Chip::Bcm53134ChipIs());
  auto const hamId = Config::hamAttrId();
  auto const intfId = Config::mgmtInterfaceAttrId();
  auto const busId = Config::typeDesc().attrId("busBits");
  EXPECT_NE(hamId, intfId);
  EXPECT_NE(hamId, busId);
  EXPECT_NE(busId, intfId);

  config->hamIs(ham);
  config->hamIs(ham);    // same handle
  config->busBitsIs(0);  // the initial value
  config->busBitsIs(2);
  auto m1 = MgmtInterface::MgmtInterfaceIs(Lanx::IntfId("Management1"), "ma1", 1, 5);
  config->mgmtInterfaceIs(3, m1);
  config->mgmtInterfaceIs(3, m1);  // same record
  config->mgmtInterfaceIs(3, MgmtInterface::MgmtInterfaceIs(Lanx::IntfId("Management1"), "", 1, 5));
  config->mgmtInterfaceDel(3);
  config->mgmtInterfaceDel(3);  // nothing there
  config->hamIs({});

  std::vector<std::pair<Kiv::AttributeId, PortId>> const expected{
      {hamId, 0}, {busId, 0}, {intfId, 3}, {intfId, 3}, {intfId, 3}, {hamId, 0}};
  EXPECT_EQ(rec.seen, expected);
  EXPECT_EQ(rec.keyed, (std::vector<bool>{false, false, true, true, true, false}));
  EXPECT_THROW(config->mgmtInterfaceIs(4, {}), Kiv::NullArgumentException);
  EXPECT_EQ(config->mgmtInterfaceCount(), 0u);
}

TEST(HardwareStatus, PortsErrorAndLinkStatusNotifications) {
  auto status = Status::StatusIs();
  Recorder<PortId> rec(status->publisher());
  auto const portId = Status::portAttrId();
  auto const errorId = Status::errorAttrId();

  auto p5 = status->portIs(5);
  EXPECT_EQ(p5->linkStatus(), LinkStatus::linkDown);  // a new port has no link
  EXPECT_EQ(status->portIs(5), p5);                   // kept, not recreated
  Recorder<int> portRec(p5->publisher());

  p5->linkStatusIs(LinkStatus::linkDown);  // unchanged
  p5->linkStatusIs(LinkStatus::linkUp);
  p5->linkStatusIs(LinkStatus::linkUp);  // unchanged
  status->errorIs("");                   // already clear
  status->errorIs("XID 1: Poll error");
  status->errorIs("XID 1: Poll error");  // unchanged
  status->errorIs("");
  status->portIs(2);

  std::vector<std::pair<Kiv::AttributeId, PortId>> const expected{
      {portId, 5}, {portId, 5}, {errorId, 0}, {errorId, 0}, {portId, 2}};
  EXPECT_EQ(rec.seen, expected);
  EXPECT_EQ(portRec.seen.size(), 1u);
  EXPECT_EQ(portRec.seen[0].first, Hardware::Bcm53134::PortStatus::linkStatusAttrId());

  // Dropping every port notifies each; a port held elsewhere lives on but
  // no longer reaches the status.
  rec.seen.clear();
  status->portDelAll();
  EXPECT_EQ(rec.seen, (std::vector<std::pair<Kiv::AttributeId, PortId>>{{portId, 2}, {portId, 5}}));
  EXPECT_TRUE(status->ports().empty());
  EXPECT_FALSE(status->port(5));
  rec.seen.clear();
  p5->linkStatusIs(LinkStatus::linkDown);
  EXPECT_TRUE(rec.seen.empty());
  status->portDelAll();  // nothing left: no notification
  EXPECT_TRUE(rec.seen.empty());

  // A port recreated after the drop starts without link again.
  EXPECT_EQ(status->portIs(5)->linkStatus(), LinkStatus::linkDown);
  EXPECT_NE(status->portIs(5), p5);
}

TEST(HardwareStatus, PortOutlivingItsStatusIsSafe) {
  Orba::Ptr<Hardware::Bcm53134::PortStatus> port;
  {
    auto status = Status::StatusIs();
    port = status->portIs(1);
  }
  port->linkStatusIs(LinkStatus::linkUp);  // the status is gone: must not touch it
  EXPECT_EQ(port->linkStatus(), LinkStatus::linkUp);
}

TEST(Ham, BusSelectionAndAccelWithoutBus) {
  auto chip0 = Hardware::Mdio::Sim::Bcm53134Chip::Bcm53134ChipIs();
  auto chip2 = Hardware::Mdio::Sim::Bcm53134Chip::Bcm53134ChipIs();
  auto ham = Fru::Ham::HamIs(chip0);
  ham->busIs(2, chip2);
  EXPECT_EQ(ham->bus(0), chip0);  // no bit: bus 0
  EXPECT_EQ(ham->bus(0b100), chip2);
  EXPECT_EQ(ham->bus(0b110), ham->bus(0b010));  // lowest set bit wins
  EXPECT_FALSE(ham->bus(0b010));                // bus 1 is not fitted
  EXPECT_FALSE(ham->bus(1u << 31));

  chip2->regIs(3, 0x10, 0x1234);
  auto accel = HalMdioAccel::Accel::AccelIs(ham, 0b100);
  EXPECT_EQ(accel->read(3, 0x10).value, 0x1234);

  // Without a handle, or on a missing bus, every access fails with a text.
  for (auto const& a :
       {HalMdioAccel::Accel::AccelIs({}, 0), HalMdioAccel::Accel::AccelIs(ham, 2)}) {
    EXPECT_FALSE(a->read(0, 1).ok());
    EXPECT_FALSE(a->write(0, 0x10, 1).ok());
    EXPECT_FALSE(a->read(0, 1).error.empty());
  }
}

TEST(InterfaceConfig, DirNotificationsCarryTheInterfaceId) {
  using Interface::EthPhyIntfConfig;
  using Interface::IntfEnabledState;
  auto dir = Interface::EthPhyIntfConfigDir::EthPhyIntfConfigDirIs("slice1");
  Recorder<Lanx::IntfId> rec(dir->publisher());
  Lanx::IntfId const m1("Management1"), m2("Management2");

  auto c1 = EthPhyIntfConfig::EthPhyIntfConfigIs(m1, IntfEnabledState::enabled);
  dir->intfConfigIs(c1);
  dir->intfConfigIs(c1);  // same object: nobody told
  dir->intfConfigIs(EthPhyIntfConfig::EthPhyIntfConfigIs(m2, IntfEnabledState::disabled));
  auto c1b = EthPhyIntfConfig::EthPhyIntfConfigIs(m1, IntfEnabledState::disabled);
  dir->intfConfigIs(c1b);  // replaced
  EXPECT_EQ(dir->intfConfigDel(m2)->intfId(), m2);
  EXPECT_FALSE(dir->intfConfigDel(m2));

  auto const id = Interface::EthPhyIntfConfigDir::intfConfigAttrId();
  std::vector<std::pair<Kiv::AttributeId, Lanx::IntfId>> const expected{
      {id, m1}, {id, m2}, {id, m1}, {id, m2}};
  EXPECT_EQ(rec.seen, expected);
  EXPECT_EQ(dir->intfConfig(m1), c1b);
  EXPECT_EQ(Kiv::fetchName(*dir), "slice1");
  EXPECT_THROW(dir->intfConfigIs({}), Kiv::NullArgumentException);

  // The enabled state: a change is told, the same value is not.
  Recorder<int> crec(c1b->publisher());
  c1b->enabledStateIs(IntfEnabledState::disabled);
  c1b->enabledStateIs(IntfEnabledState::enabled);
  ASSERT_EQ(crec.seen.size(), 1u);
  EXPECT_EQ(crec.seen[0].first, EthPhyIntfConfig::enabledStateAttrId());
  EXPECT_STREQ(Interface::stringValue(IntfEnabledState::disabled), "disabled");
  EXPECT_STREQ(Interface::stringValue(static_cast<IntfEnabledState>(9)), "invalidEnabledState");

  std::ostringstream os;
  os << m1 << '/' << Lanx::IntfId();
  EXPECT_EQ(os.str(), "Management1/");
}

// Every attribute of the mounted entities and the register queues is
// reachable through the generic interface with the values the typed
// accessors show, and the writable enabled state notifies like its mutator.
TEST(PlatformEntities, GenericInterfaceReadsEveryAttribute) {
  namespace G = Kiv::Generic;
  auto config = Config::ConfigIs();
  config->hamIs(Fru::Ham::HamIs(Hardware::Mdio::Sim::Bcm53134Chip::Bcm53134ChipIs()));
  config->mgmtInterfaceIs(0,
                          MgmtInterface::MgmtInterfaceIs(Lanx::IntfId("Management1"), "ma1", 1, 5));
  auto status = Status::StatusIs();
  status->portIs(1)->linkStatusIs(LinkStatus::linkUp);
  status->errorIs("broken");
  auto dir = Interface::EthPhyIntfConfigDir::EthPhyIntfConfigDirIs("1");
  auto intf = Interface::EthPhyIntfConfig::EthPhyIntfConfigIs(Lanx::IntfId("Management1"),
                                                              Interface::IntfEnabledState::enabled);
  dir->intfConfigIs(intf);
  auto regConfig = Bcm53134::MdioRegLib::Config::ConfigIs("");
  auto regStatus = Bcm53134::MdioRegLib::Status::StatusIs("");
  regStatus->resultEnq({});

  std::vector<Orba::Node const*> const nodes{config.get(),    config->mgmtInterface(0).get(),
                                             status.get(),    status->port(1).get(),
                                             dir.get(),       intf.get(),
                                             regConfig.get(), regStatus.get()};
  for (auto const* n : nodes) {
    ASSERT_NE(n->typeData(), nullptr);
    for (auto const* a : G::attributes(*n)) {
      SCOPED_TRACE(n->typeData()->name + "." + a->name);
      if (a->get) {
        EXPECT_NO_THROW(G::get(*n, a->name).text());
      }
      if (a->members) {
        EXPECT_EQ(G::members(*n, a->name).size(), G::count(*n, a->name));
      } else if (a->count) {
        EXPECT_NO_THROW(G::count(*n, a->name));
      }
    }
  }
  EXPECT_EQ(G::get(*status, "error").as<std::string>(), "broken");
  auto port = G::lookup(*status, "port", Kiv::Value::of(PortId{1}));
  EXPECT_EQ(G::get(*Kiv::handleAs<Hardware::Bcm53134::PortStatus>(port), "linkStatus").text(),
            "linkUp");
  EXPECT_FALSE(G::has(*status, "port", Kiv::Value::of(PortId{2})));
  auto m =
      Kiv::handleAs<MgmtInterface>(G::lookup(*config, "mgmtInterface", Kiv::Value::of(PortId{0})));
  EXPECT_EQ(G::get(*m, "internalPort").as<PortId>(), 5);
  EXPECT_EQ(G::get(*m, "intfId").text(), "Management1");
  EXPECT_EQ(G::count(*regStatus, "result"), 1u);
  EXPECT_EQ(regStatus->typeData()->attr("result")->id,
            Bcm53134::MdioRegLib::Status::resultAttrId());

  Recorder<int> rec(intf->publisher());
  G::setText(*intf, "enabledState", "disabled");
  G::setText(*intf, "enabledState", "2");  // the same state by number
  EXPECT_EQ(intf->enabledState(), Interface::IntfEnabledState::disabled);
  EXPECT_EQ(rec.seen.size(), 1u);
  EXPECT_THROW(G::setText(*intf, "enabledState", "sideways"), Kiv::AttributeError);
  EXPECT_THROW(G::set(*status, "error", Kiv::Value::of(std::string("x"))), Kiv::AttributeError);
}

}  // namespace
