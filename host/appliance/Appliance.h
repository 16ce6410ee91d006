// The appliance: its description read from YAML, the state database built from it, reloads
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/appliance/Yaml.h"
#include "platform/interface/EthPhyIntfConfig.h"

namespace Host {

// One management interface of the switch: its interface id, the name of its
// CPU netdevice (empty for none), and its two switch ports.
struct MgmtIntfDesc {
  std::string intfId;
  std::string cpuInterface;
  unsigned externalPort = 0;
  unsigned internalPort = 0;
  bool operator==(MgmtIntfDesc const&) const = default;
};

struct IntfConfigDesc {
  std::string intfId;
  Interface::IntfEnabledState state = Interface::IntfEnabledState::enabled;
};

struct SliceDesc {
  std::string name;
  std::vector<IntfConfigDesc> interfaces;
};

// Where the agent's CPU netdevices live. `privateNamespace` (the default):
// the host makes them in a private network namespace, or simulates them.
// `hostNamespace`: the production mode on a real appliance, where the agent
// acts on the netdevices of the host's own namespace.
enum class NetdevMode { privateNamespace, hostNamespace };

// How the agent reaches the switch's MDIO bus. `sim` (the default): the
// simulated BCM53134. `miiIoctl`: the appliance's own MDIO bus, through the
// Linux MII ioctls on the netdevice whose MAC drives it.
enum class MdioTransport { sim, miiIoctl };

// An appliance as its description file states it, checked.
struct ApplianceDesc {
  std::string file;
  bool ham = true;   // the hardware access handle is present at start
  unsigned bus = 0;  // the MDIO bus the switch sits on (bus selection bit)
  // Seconds between the agent's polls, written to its pollPeriod attribute;
  // none keeps the agent's own.
  std::optional<double> pollPeriod;
  std::vector<MgmtIntfDesc> mgmtInterfaces;  // keyed by position
  std::vector<SliceDesc> slices;
  std::map<unsigned, bool> links;  // the simulated chip's initial link per port
  bool txDisableCoupling = true;
  double accessTime = 0;  // seconds per chip access; 0 keeps the chip's own
  // The simulated chip may drive the host's own netdevices (tests and
  // demonstrations on a machine whose netdevices are expendable).
  bool simDrivesHostNetdevices = false;
  NetdevMode netdevices = NetdevMode::privateNamespace;
  MdioTransport mdio = MdioTransport::sim;
  std::string mdioNetdev;  // the netdevice of the MII ioctls (miiIoctl only)

  // The CPU netdevice names, each once, in order of appearance.
  std::vector<std::string> cpuInterfaceNames() const;
  // The switch ports the management interfaces use, each once, in order of
  // appearance, with who uses them ("Management1 external, ...").
  std::vector<std::pair<unsigned, std::string>> portUsers() const;
  // One warning line per switch port that two management interfaces use
  // (sharedPorts, in the file's order).
  std::vector<std::string> sharedPortWarnings() const;
};

// A switch port that two management interfaces use. The agent allows it:
// they share the port's register records, and the interface it visits last
// decides a shared register. It visits them by key, which is the file's
// order at start; an interface added while running takes the first free key.
struct SharedPort {
  unsigned port = 0;
  std::string first, last;  // the interface ids, in the order visited
  std::string warning;      // the one line said about it
};
// The shared ports of management interfaces given in the order visited.
std::vector<SharedPort> sharedPorts(std::vector<MgmtIntfDesc> const& visited);
// Those of `after` that `before` does not have: what a change of the
// management interfaces brings.
std::vector<SharedPort> newSharedPorts(std::vector<MgmtIntfDesc> const& before,
                                       std::vector<MgmtIntfDesc> const& after);

// The poll periods the agent's pollPeriod attribute takes, in seconds.
inline constexpr double kMinPollPeriod = 0.001, kMaxPollPeriod = 86400;

// Ports of the simulated chip that a management interface may use.
inline constexpr unsigned kMaxPort = 7;
// Longest netdevice name the kernel takes (IFNAMSIZ less the terminator).
inline constexpr std::size_t kMaxNetdevName = 15;

// Reads and checks an appliance description. Everything wrong is refused
// with an InputError naming the file and line.
ApplianceDesc loadAppliance(std::string const& path);
// The same from a YAML node found in `file` (a scenario's inline appliance).
// Scenarios refuse an appliance on a real MDIO bus themselves.
ApplianceDesc parseAppliance(YAML::Node const& node, std::string const& file);

// Checks of single items, shared with the scenario events that add them.
MgmtIntfDesc parseMgmtInterface(MapReader const& m);
Interface::IntfEnabledState parseEnabledState(std::string const& file, YAML::Node const& n,
                                              std::string const& what);
// Why a netdevice name is unusable, or empty when it is fine.
std::string netdevNameProblem(std::string const& name);
// The most management interfaces an appliance has, in its file or added
// while it runs.
inline constexpr std::size_t kMaxMgmtInterfaces = 255;
// Cross-checks of the management interfaces (duplicate ids, too many).
void checkMgmtInterfaces(std::vector<MgmtIntfDesc> const& all, MgmtIntfDesc const& added,
                         Where const& at);

}  // namespace Host
