#pragma once

#include <optional>
#include <string>

#include "host/appliance/Appliance.h"
#include "platform/bus/record/RecordingBus.h"
#include "platform/bus/sim/SimBcm53134.h"
#include "platform/hardware/Bcm53134.h"
#include "platform/interface/EthPhyIntfConfig.h"
#include "platform/kiv/Dir.h"
#include "platform/stratum/EntityManager.h"

namespace Host {

// The appliance's state database, in process: the switch's hardware config
// and status, the interface configuration slices and the mount profile the
// agent asks for, with the appliance's MDIO bus (a simulated BCM53134, or
// the real bus through the MII ioctls) as bus 0 of the hardware access
// handle, behind a recorder that writes a bus record when asked. Building it makes its entity
// manager the process's local one, which agents created afterwards hold.
class StateDb {
 public:
  static constexpr char const* kMountProfile = "Bcm53134Agent";
  static constexpr char const* kSlicePath = "interface/config/eth/phy/slice";
  static std::string configPath();
  static std::string statusPath();

  // `bus`: the appliance's MDIO bus when the caller has opened it already
  // (the host opens a real one before it leaves its own network namespace);
  // null: the bus the appliance describes is made here.
  explicit StateDb(ApplianceDesc const& appliance, Orba::Ptr<Hardware::Mdio::Bus> bus = {});
  ~StateDb();
  StateDb(StateDb const&) = delete;
  StateDb& operator=(StateDb const&) = delete;

  Stratum::EntityManager& entityManager() const { return *em_; }
  Hardware::Mdio::Bus& bus() const { return *bus_; }
  Hardware::Mdio::Record::RecordingBus& recorder() const { return *recorder_; }
  bool hasChip() const noexcept { return static_cast<bool>(chip_); }
  // The simulated chip; throws std::runtime_error naming the bus in use when
  // the appliance runs on a real one.
  Hardware::Mdio::Sim::Bcm53134Chip& chip() const;
  Hardware::Bcm53134::Config& config() const { return *config_; }
  Hardware::Bcm53134::Status& status() const { return *status_; }
  Kiv::Dir& sliceDir() const { return *sliceDir_; }

  // The hardware access handle appears or goes.
  void hamPresentIs(bool present);
  // A new handle over the same bus takes the place of the present one, as
  // when the bus driver is restarted: the config notifies a change of ham.
  void hamReplace();
  bool hamPresent() const { return static_cast<bool>(config_->ham()); }

  // Management interfaces are keyed by position; an added one takes the
  // first free key, or `at` (putting one back where it was; one there is
  // replaced). Removal is by interface id; false when there is none.
  std::uint8_t mgmtInterfaceAdd(MgmtIntfDesc const& d, std::optional<std::uint8_t> at = {});
  bool mgmtInterfaceDel(std::string const& intfId);
  std::optional<std::uint8_t> mgmtInterfaceKey(std::string const& intfId) const;
  std::vector<MgmtIntfDesc> mgmtInterfaces() const;

  // Slices and their interface configurations. The mutators return false
  // when what they act on is absent (or, for additions, already there).
  Orba::Ptr<Interface::EthPhyIntfConfigDir> slice(std::string const& name) const;
  // The slices as they are now, in name order, each with its configurations.
  std::vector<SliceDesc> slices() const;
  bool sliceAdd(SliceDesc const& s);
  bool sliceDel(std::string const& name);
  bool intfConfigAdd(std::string const& sliceName, IntfConfigDesc const& d);
  bool intfConfigDel(std::string const& sliceName, std::string const& intfId);
  // Changes the enabled state of an interface in whichever slice holds it,
  // or in the slice named.
  bool enabledStateIs(std::string const& intfId, Interface::IntfEnabledState s);
  bool enabledStateIs(std::string const& sliceName, std::string const& intfId,
                      Interface::IntfEnabledState s);
  std::optional<Interface::IntfEnabledState> enabledState(std::string const& intfId) const;

 private:
  Orba::Ptr<Stratum::EntityManager> em_;
  Orba::Ptr<Hardware::Mdio::Record::RecordingBus> recorder_;
  Orba::Ptr<Hardware::Mdio::Bus> bus_;                 // the recorder
  Orba::Ptr<Hardware::Mdio::Sim::Bcm53134Chip> chip_;  // null on a real bus
  unsigned busIndex_;                                  // the switch's bus in the access handle
  Orba::Ptr<Fru::Ham> ham_;
  Orba::Ptr<Hardware::Bcm53134::Config> config_;
  Orba::Ptr<Hardware::Bcm53134::Status> status_;
  Orba::Ptr<Kiv::Dir> sliceDir_;
};

}  // namespace Host
