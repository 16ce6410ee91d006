#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/appliance/Appliance.h"
#include "host/appliance/StateDb.h"

namespace Host {

// What a reload compares the new file with: the parts of the state database
// a reload may change, as plain values, as they are now (scenario steps and
// live commands may have changed them since the file was read).
struct LiveConfig {
  std::vector<MgmtIntfDesc> mgmtInterfaces;  // in key order
  std::vector<SliceDesc> slices;             // in name order
  bool ham = true;
  std::vector<std::uint8_t> mgmtKeys;  // each management interface's key (none: 0, 1, ...)
  std::optional<double> pollPeriod;    // the agent's, once it runs (liveConfigOf leaves it out)
};
LiveConfig liveConfigOf(StateDb const& db);

// One change of a reload plan, carried out by one StateDb mutator. Each
// holds what it needs to be undone: a removal the item as it was, a change
// of enabled state the state before.
struct ReloadChange {
  enum class Kind {
    mgmtInterfaceDel,  // mgmt
    mgmtInterfaceAdd,  // mgmt
    sliceDel,          // slice, as it was
    sliceAdd,          // slice
    intfConfigDel,     // sliceName, intf as it was
    intfConfigAdd,     // sliceName, intf
    enabledState,      // sliceName, intf (its new state), from
    ham,               // hamPresent: the new presence
    pollPeriod,        // period, fromPeriod: the agent's attribute, not the database's
  };
  Kind kind;
  std::string text;  // the line the reload prints for it
  MgmtIntfDesc mgmt;
  SliceDesc slice;
  std::string sliceName;
  IntfConfigDesc intf;
  Interface::IntfEnabledState from = Interface::IntfEnabledState::unknownEnabledState;
  bool hamPresent = false;
  double period = 0, fromPeriod = 0;
};

// What a new appliance file would do to the running one: the differences
// that only a restart makes (one phrase each, e.g. "chip.links changed"),
// and otherwise the changes that bring the state database in line with it,
// in the order they are applied.
struct ReloadPlan {
  std::string file;
  std::vector<std::string> restart;
  std::vector<ReloadChange> changes;

  bool refused() const noexcept { return !restart.empty(); }
  // "FILE: chip.links changed; ...: that needs a restart; nothing from the
  // file was applied"; empty when not refused.
  std::string refusal() const;
  // The CPU netdevices the changes bring that `live` does not have yet.
  std::vector<std::string> newCpuNetdevs(LiveConfig const& live) const;
};

// What in `next` needs a restart to take effect, compared with `running`
// (the description the process started with or last applied): the MDIO
// transport and its netdevice, the chip section, the MDIO bus the switch
// sits on, and where the CPU netdevices live. Empty when none.
std::vector<std::string> restartChanges(ApplianceDesc const& running, ApplianceDesc const& next);

// The plan of a reload, computed without touching anything. Management
// interfaces removed, then added (one whose ports or CPU netdevice changed
// is removed and added again); slices removed, then in the file's order each
// new slice added or an existing one's interface configurations removed,
// added and changed; then ham; then the agent's pollPeriod, when the file
// gives one that differs from the live one. An addition that makes a switch port shared
// says so in its line, with the warning the file's check gives.
// A plan that needs a restart holds no changes.
ReloadPlan planReload(LiveConfig const& live, ApplianceDesc const& running,
                      ApplianceDesc const& next);

// A change of the plan could not be made; every change made before it has
// been undone.
class ReloadFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Carries out the plan's changes through the StateDb, and a new poll period
// through `pollPeriodIs` (which writes the agent's attribute), in order, all
// or nothing: when one fails (its mutator throws, or finds the database no
// longer as planned) the changes made so far are undone, last first, and
// ReloadFailed says which change failed and why. A refused plan changes
// nothing.
void applyPlan(StateDb& db, ReloadPlan const& plan,
               std::function<void(double)> const& pollPeriodIs = {});

}  // namespace Host
