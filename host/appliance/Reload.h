#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "host/appliance/Appliance.h"
#include "host/appliance/StateDb.h"

namespace Host {

// A new appliance description differs from the running one in something
// only a restart can change; nothing of it was applied.
class RestartNeeded : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What in `next` needs a restart to take effect, compared with `running`
// (the description the process started with or last applied): the MDIO
// transport and its netdevice, the chip section, the MDIO bus the switch
// sits on, and where the CPU netdevices live. One phrase per difference,
// e.g. "chip.links changed"; empty when none.
std::vector<std::string> restartChanges(ApplianceDesc const& running, ApplianceDesc const& next);

// Brings the state database in line with `next`, as any other configuration
// change would: management interfaces removed and added (one whose ports or
// CPU netdevice changed is removed and added again), slices removed and
// added, interface configurations removed and added, enabled states changed,
// and ham. These are compared with the state database as it is now, so what
// scenario steps or live commands changed since is put back as the file has
// it. Throws RestartNeeded, before changing anything, when restartChanges()
// finds a difference. Returns one line per change applied, in the order
// applied.
std::vector<std::string> applyAppliance(StateDb& db, ApplianceDesc const& running,
                                        ApplianceDesc const& next);

}  // namespace Host
