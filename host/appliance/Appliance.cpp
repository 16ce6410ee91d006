#include "host/appliance/Appliance.h"

#include <algorithm>
#include <set>

namespace Host {

std::vector<std::string> ApplianceDesc::cpuInterfaceNames() const {
  std::vector<std::string> r;
  for (auto const& m : mgmtInterfaces) {
    if (!m.cpuInterface.empty() && std::find(r.begin(), r.end(), m.cpuInterface) == r.end())
      r.push_back(m.cpuInterface);
  }
  return r;
}

std::vector<std::pair<unsigned, std::string>> ApplianceDesc::portUsers() const {
  std::vector<std::pair<unsigned, std::string>> ports;
  auto add = [&](unsigned port, std::string const& user) {
    for (auto& [p, users] : ports) {
      if (p == port) {
        users += ", " + user;
        return;
      }
    }
    ports.emplace_back(port, user);
  };
  for (auto const& m : mgmtInterfaces) {
    add(m.externalPort, m.intfId + " external");
    add(m.internalPort, m.intfId + " internal");
  }
  return ports;
}

namespace {

// The shared ports of `visited` whose pair of interfaces `counts`.
std::vector<SharedPort> sharedPortsOf(std::vector<MgmtIntfDesc> const& visited,
                                      auto const& counts) {
  std::vector<SharedPort> r;
  auto role = [](MgmtIntfDesc const& m, unsigned port) {
    return m.intfId + (m.externalPort == port ? " (external)" : " (internal)");
  };
  for (std::size_t j = 0; j < visited.size(); ++j) {
    auto const& later = visited[j];
    for (std::size_t i = 0; i < j; ++i) {
      auto const& first = visited[i];
      for (unsigned port : {later.externalPort, later.internalPort}) {
        if ((port != first.externalPort && port != first.internalPort) || !counts(i, j))
          continue;
        r.push_back({port, first.intfId, later.intfId,
                     "warning: switch port " + std::to_string(port) + " is used by " +
                         role(first, port) + " and " + role(later, port) +
                         ": they share its register records, and " + later.intfId +
                         ", visited last, decides a shared register"});
      }
    }
  }
  return r;
}

}  // namespace

std::vector<SharedPort> sharedPorts(std::vector<MgmtIntfDesc> const& visited) {
  return sharedPortsOf(visited, [](std::size_t, std::size_t) { return true; });
}

// An interface that was there before keeps its key, so a pair of two such
// is no news.
std::vector<SharedPort> newSharedPorts(std::vector<MgmtIntfDesc> const& before,
                                       std::vector<MgmtIntfDesc> const& after) {
  std::vector<bool> old;
  for (auto const& m : after)
    old.push_back(std::find(before.begin(), before.end(), m) != before.end());
  return sharedPortsOf(after, [&](std::size_t i, std::size_t j) { return !old[i] || !old[j]; });
}

std::vector<std::string> ApplianceDesc::sharedPortWarnings() const {
  std::vector<std::string> r;
  for (auto const& p : sharedPorts(mgmtInterfaces))
    r.push_back(p.warning);
  return r;
}

std::string netdevNameProblem(std::string const& name) {
  if (name.size() > kMaxNetdevName) {
    return "is " + std::to_string(name.size()) + " bytes long; a netdevice name has at most " +
           std::to_string(kMaxNetdevName);
  }
  if (name == "." || name == "..")
    return "is not a netdevice name";
  for (char c : name) {
    if (c == '/' || c == ':' || c == '\'' || c == '"' || c == '\\' ||
        static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7f)
      return "contains a character a netdevice name cannot have";
  }
  return {};
}

Interface::IntfEnabledState parseEnabledState(std::string const& file, YAML::Node const& n,
                                              std::string const& what) {
  std::string s = scalarText(file, n, what);
  auto v = Interface::intfEnabledStateNames().value(s);
  if (!v || !Interface::intfEnabledStateNames().name(*v)) {
    refuse(where(file, n),
           what + " must be enabled, disabled or unknownEnabledState, not '" + clipped(s) + "'");
  }
  return static_cast<Interface::IntfEnabledState>(*v);
}

MgmtIntfDesc parseMgmtInterface(MapReader const& m) {
  MgmtIntfDesc d;
  d.intfId = m.text("intfId");
  if (d.intfId.empty())
    refuse(m.at("intfId"), m.what() + ".intfId must not be empty");
  d.cpuInterface = m.text("cpuInterface", "");
  if (auto why = netdevNameProblem(d.cpuInterface); !d.cpuInterface.empty() && !why.empty())
    refuse(m.at("cpuInterface"),
           m.what() + ".cpuInterface '" + clipped(d.cpuInterface) + "' " + why);
  d.externalPort = static_cast<unsigned>(m.number("externalPort", 0, kMaxPort));
  d.internalPort = static_cast<unsigned>(m.number("internalPort", 0, kMaxPort));
  if (d.externalPort == d.internalPort) {
    refuse(m.at("internalPort"), m.what() + ": the external and the internal port are both " +
                                     std::to_string(d.externalPort));
  }
  return d;
}

void checkMgmtInterfaces(std::vector<MgmtIntfDesc> const& all, MgmtIntfDesc const& added,
                         Where const& at) {
  if (all.size() >= kMaxMgmtInterfaces) {
    refuse(at, "management interface " + clipped(added.intfId) + " is one too many: at most " +
                   std::to_string(kMaxMgmtInterfaces) + " management interfaces");
  }
  for (auto const& m : all) {
    if (m.intfId == added.intfId)
      refuse(at, "interface id " + clipped(added.intfId) + " is used by two management interfaces");
  }
}

namespace {

// switch: the chip on its bus, its poll period and its management interfaces.
void readSwitch(ApplianceDesc& a, MapReader& top, std::string const& file) {
  MapReader sw(file, top.required("switch"), "switch",
               {"ham", "bus", "managementInterfaces", "pollPeriod"});
  a.ham = sw.flag("ham", true);
  a.bus = static_cast<unsigned>(sw.number("bus", 0, 31, 0));
  if (sw.has("pollPeriod")) {
    a.pollPeriod = sw.seconds("pollPeriod");
    if (!(*a.pollPeriod >= kMinPollPeriod && *a.pollPeriod <= kMaxPollPeriod))
      refuse(sw.at("pollPeriod"), "switch.pollPeriod must be from 0.001 to 86400 seconds, not '" +
                                      clipped(sw.optional("pollPeriod").Scalar()) + "'");
  }
  auto list = sw.required("managementInterfaces");
  if (!list.IsSequence())
    refuse(where(file, list), "switch.managementInterfaces must be a list");
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::string what = "managementInterfaces[" + std::to_string(i) + "]";
    MapReader m(file, list[i], what, {"intfId", "cpuInterface", "externalPort", "internalPort"});
    auto d = parseMgmtInterface(m);
    checkMgmtInterfaces(a.mgmtInterfaces, d, m.at("intfId"));
    a.mgmtInterfaces.push_back(d);
  }
}

// interfaceConfig: each slice's interfaces and their enabled states.
void readInterfaceConfig(ApplianceDesc& a, MapReader& top, std::string const& file) {
  if (auto ic = top.optional("interfaceConfig")) {
    if (!ic.IsMap())
      refuse(where(file, ic), "interfaceConfig must map slice names to their interfaces");
    std::set<std::string> seenIntf, seenSlice;
    for (auto const& kv : ic) {
      SliceDesc s;
      s.name = scalarText(file, kv.first, "a slice name");
      if (s.name.empty() || s.name.find('/') != std::string::npos)
        refuse(where(file, kv.first), "slice name '" + clipped(s.name) + "' is not a valid name");
      if (!seenSlice.insert(s.name).second)
        refuse(where(file, kv.first), "slice " + clipped(s.name) + " is given twice");
      YAML::Node intfs = kv.second;
      if (!intfs.IsMap() && !intfs.IsNull()) {
        refuse(where(file, intfs),
               "interfaceConfig." + clipped(s.name) + " must map interface ids to enabled states");
      }
      for (auto const& entry : intfs) {
        IntfConfigDesc d;
        d.intfId = scalarText(file, entry.first, "an interface id");
        if (d.intfId.empty())
          refuse(where(file, entry.first), "an interface id must not be empty");
        if (!seenIntf.insert(d.intfId).second) {
          refuse(where(file, entry.first), "interface " + clipped(d.intfId) +
                                               " is configured twice (an interface has one entry)");
        }
        d.state = parseEnabledState(file, entry.second,
                                    "interfaceConfig." + clipped(s.name) + "." + clipped(d.intfId));
        s.interfaces.push_back(d);
      }
      a.slices.push_back(std::move(s));
    }
  }
}

// mdio: how the switch's MDIO bus is reached.
void readMdio(ApplianceDesc& a, MapReader& top, std::string const& file) {
  if (auto mdio = top.optional("mdio")) {
    MapReader m(file, mdio, "mdio", {"transport", "netdev"});
    std::string transport = m.text("transport", "sim");
    if (transport == "mii-ioctl") {
      a.mdio = MdioTransport::miiIoctl;
      if (!m.has("netdev")) {
        refuse(m.at(),
               "mdio.netdev is needed with transport mii-ioctl: the netdevice whose MAC "
               "drives the switch's MDIO bus, e.g. netdev: eth1");
      }
      a.mdioNetdev = m.text("netdev");
      if (a.mdioNetdev.empty())
        refuse(m.at("netdev"), "mdio.netdev must not be empty");
      if (auto why = netdevNameProblem(a.mdioNetdev); !why.empty())
        refuse(m.at("netdev"), "mdio.netdev '" + clipped(a.mdioNetdev) + "' " + why);
    } else if (transport == "sim") {
      if (m.has("netdev")) {
        refuse(m.at("netdev"),
               "mdio.netdev applies to transport mii-ioctl only; the simulated chip has none");
      }
    } else {
      refuse(m.at("transport"),
             "mdio.transport must be sim or mii-ioctl, not '" + clipped(transport) + "'");
    }
  }
}

// chip: the simulated chip's links and behaviour.
void readChip(ApplianceDesc& a, MapReader& top, std::string const& file) {
  if (auto chipNode = top.optional("chip")) {
    if (a.mdio != MdioTransport::sim) {
      refuse(top.at("chip"),
             "chip describes the simulated chip, which mdio.transport "
             "mii-ioctl does not use; leave chip out");
    }
    MapReader chip(file, chipNode, "chip",
                   {"links", "txDisableCoupling", "accessTime", "drivesHostNetdevices"});
    a.txDisableCoupling = chip.flag("txDisableCoupling", true);
    a.simDrivesHostNetdevices = chip.flag("drivesHostNetdevices", false);
    if (chip.has("accessTime")) {
      a.accessTime = chip.seconds("accessTime");
      if (a.accessTime <= 0 || a.accessTime > 10)
        refuse(chip.at("accessTime"), "chip.accessTime must be above 0 and at most 10 seconds");
    }
    if (auto links = chip.optional("links")) {
      if (!links.IsMap())
        refuse(where(file, links), "chip.links must map port numbers to up or down");
      for (auto const& kv : links) {
        auto port = static_cast<unsigned>(scalarNumber(file, kv.first, "a port", 0, kMaxPort));
        std::string state = scalarText(file, kv.second, "chip.links." + std::to_string(port));
        if (state != "up" && state != "down") {
          refuse(where(file, kv.second), "chip.links." + std::to_string(port) +
                                             " must be up or down, not '" + clipped(state) + "'");
        }
        if (!a.links.emplace(port, state == "up").second)
          refuse(where(file, kv.first), "port " + std::to_string(port) + " is given twice");
      }
    }
  }
}

// netdevices: whose netdevices the agent acts on.
void readNetdevices(ApplianceDesc& a, MapReader& top, std::string const& file) {
  std::string mode = top.text("netdevices", "private");
  if (mode == "private") {
    a.netdevices = NetdevMode::privateNamespace;
  } else if (mode == "host") {
    a.netdevices = NetdevMode::hostNamespace;
    // Simulated links would put a real management port into protodown.
    if (a.mdio == MdioTransport::sim && !a.simDrivesHostNetdevices) {
      refuse(top.at("netdevices"),
             "netdevices: host lets the simulated chip's links drive this machine's own "
             "netdevices; reach the real chip (mdio: {transport: mii-ioctl, netdev: NAME}), or, "
             "where these netdevices are expendable, say so with chip: {drivesHostNetdevices: "
             "true}");
    }
  } else {
    refuse(top.at("netdevices"), "netdevices must be private or host, not '" + clipped(mode) + "'");
  }
}

}  // namespace

ApplianceDesc parseAppliance(YAML::Node const& node, std::string const& file) {
  ApplianceDesc a;
  a.file = file;
  MapReader top(file, node, "the appliance",
                {"switch", "interfaceConfig", "chip", "netdevices", "mdio"});

  readSwitch(a, top, file);
  readInterfaceConfig(a, top, file);
  readMdio(a, top, file);
  readChip(a, top, file);
  readNetdevices(a, top, file);
  return a;
}

ApplianceDesc loadAppliance(std::string const& path) {
  return parseAppliance(loadYamlFile(path), path);
}

}  // namespace Host
