#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/bus/sim/SimBcm53134.h"
#include "platform/hardware/Bcm53134.h"
#include "platform/kiv/Errors.h"
#include "platform/mdio/Accel.h"
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

using Seen = std::vector<std::pair<Kiv::AttributeId, PortId>>;

// Only real changes are told: the same handle, record or value again is no
// news. The ham is told without a key, a management interface with its key.
TEST(HardwareModel, ConfigAndStatusTellOnlyRealChanges) {
  auto config = Config::ConfigIs();
  Recorder<PortId> rec(config->publisher());
  auto ham = Fru::Ham::HamIs(Hardware::Mdio::Sim::Bcm53134Chip::Bcm53134ChipIs());
  auto const hamId = Config::hamAttrId();
  auto const intfId = Config::mgmtInterfaceAttrId();
  auto const busId = Config::typeDesc().attrId("busBits");
  config->hamIs(ham);
  config->hamIs(ham);
  config->busBitsIs(0);  // the initial value
  config->busBitsIs(2);
  auto m1 = MgmtInterface::MgmtInterfaceIs(Lanx::IntfId("Management1"), "ma1", 1, 5);
  config->mgmtInterfaceIs(3, m1);
  config->mgmtInterfaceIs(3, m1);
  config->mgmtInterfaceIs(3, MgmtInterface::MgmtInterfaceIs(Lanx::IntfId("Management1"), "", 1, 5));
  config->mgmtInterfaceDel(3);
  config->mgmtInterfaceDel(3);  // nothing there
  config->hamIs({});
  EXPECT_EQ(rec.seen,
            (Seen{{hamId, 0}, {busId, 0}, {intfId, 3}, {intfId, 3}, {intfId, 3}, {hamId, 0}}));
  EXPECT_EQ(rec.keyed, (std::vector<bool>{false, false, true, true, true, false}));
  EXPECT_THROW(config->mgmtInterfaceIs(4, {}), Kiv::NullArgumentException);

  auto status = Status::StatusIs();
  Recorder<PortId> srec(status->publisher());
  auto const portId = Status::portAttrId();
  auto const errorId = Status::errorAttrId();
  auto p5 = status->portIs(5);
  EXPECT_EQ(p5->linkStatus(), LinkStatus::linkDown);  // a new port has no link
  EXPECT_EQ(status->portIs(5), p5);                   // kept, not recreated
  Recorder<int> portRec(p5->publisher());
  p5->linkStatusIs(LinkStatus::linkDown);
  p5->linkStatusIs(LinkStatus::linkUp);
  p5->linkStatusIs(LinkStatus::linkUp);
  status->errorIs("");  // already clear
  status->errorIs("XID 1: Poll error");
  status->errorIs("XID 1: Poll error");
  status->errorIs("");
  status->portIs(2);
  EXPECT_EQ(srec.seen, (Seen{{portId, 5}, {portId, 5}, {errorId, 0}, {errorId, 0}, {portId, 2}}));
  EXPECT_EQ(portRec.seen.size(), 1u);

  // Dropping every port tells each; a port held elsewhere lives on, no
  // longer reaches the status (nor touches it once it is gone), and a port
  // made again starts without link.
  srec.seen.clear();
  status->portDelAll();
  EXPECT_EQ(srec.seen, (Seen{{portId, 2}, {portId, 5}}));
  srec.seen.clear();
  p5->linkStatusIs(LinkStatus::linkDown);
  status->portDelAll();
  EXPECT_TRUE(srec.seen.empty());
  EXPECT_NE(status->portIs(5), p5);
  EXPECT_EQ(status->portIs(5)->linkStatus(), LinkStatus::linkDown);
  status = nullptr;
  p5->linkStatusIs(LinkStatus::linkUp);
}

TEST(HardwareModel, HamBusSelectionAndAccelWithoutBus) {
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
  EXPECT_EQ(HalMdioAccel::Accel::AccelIs(ham, 0b100)->read(3, 0x10).value, 0x1234);

  // Without a handle, or on a missing bus, every access fails with a text.
  for (auto const& a :
       {HalMdioAccel::Accel::AccelIs({}, 0), HalMdioAccel::Accel::AccelIs(ham, 2)}) {
    EXPECT_FALSE(a->read(0, 1).error.empty());
    EXPECT_FALSE(a->write(0, 0x10, 1).error.empty());
  }
}

}  // namespace
