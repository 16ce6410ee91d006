#include "host/appliance/ApplianceJson.h"

#include <nlohmann/json.hpp>

namespace Host {

namespace {

using Json = nlohmann::ordered_json;

// The JSON value as the node a description file with the same content
// gives: a scalar is its text, as the file's checks read it.
YAML::Node nodeOf(Json const& j) {
  switch (j.type()) {
    case Json::value_t::object: {
      YAML::Node map(YAML::NodeType::Map);
      for (auto const& [key, value] : j.items())
        map[key] = nodeOf(value);
      return map;
    }
    case Json::value_t::array: {
      YAML::Node list(YAML::NodeType::Sequence);
      for (auto const& value : j)
        list.push_back(nodeOf(value));
      return list;
    }
    case Json::value_t::string:
      return YAML::Node(j.get_ref<std::string const&>());
    case Json::value_t::null:
    case Json::value_t::discarded:
      return YAML::Node(YAML::NodeType::Null);
    default:  // a number or a flag, in JSON's own spelling
      return YAML::Node(j.dump());
  }
}

}  // namespace

Json applianceJson(ApplianceDesc const& a) {
  Json sw = {{"ham", a.ham}, {"bus", a.bus}, {"managementInterfaces", Json::array()}};
  for (auto const& m : a.mgmtInterfaces) {
    Json j = {{"intfId", m.intfId}};
    if (!m.cpuInterface.empty())
      j["cpuInterface"] = m.cpuInterface;
    j["externalPort"] = m.externalPort;
    j["internalPort"] = m.internalPort;
    sw["managementInterfaces"].push_back(j);
  }
  if (a.pollPeriod)
    sw["pollPeriod"] = *a.pollPeriod;
  Json j = {{"switch", sw}};
  if (!a.slices.empty()) {
    Json ic = Json::object();
    for (auto const& s : a.slices) {
      Json intfs = Json::object();
      for (auto const& i : s.interfaces)
        intfs[i.intfId] = Interface::stringValue(i.state);
      ic[s.name] = s.interfaces.empty() ? Json() : intfs;
    }
    j["interfaceConfig"] = ic;
  }
  if (a.mdio == MdioTransport::sim) {
    Json chip = {{"txDisableCoupling", a.txDisableCoupling}};
    if (a.accessTime > 0)
      chip["accessTime"] = a.accessTime;
    if (a.simDrivesHostNetdevices)
      chip["drivesHostNetdevices"] = true;
    if (!a.links.empty()) {
      Json links = Json::object();
      for (auto const& [p, up] : a.links)
        links[std::to_string(p)] = up ? "up" : "down";
      chip["links"] = links;
    }
    j["chip"] = chip;
    j["mdio"] = {{"transport", "sim"}};
  } else {
    j["mdio"] = {{"transport", "mii-ioctl"}, {"netdev", a.mdioNetdev}};
  }
  j["netdevices"] = a.netdevices == NetdevMode::hostNamespace ? "host" : "private";
  return j;
}

// The appliance's checks are the description file's, on the same content;
// every message names the JSON's line (the nodes have none of their own).
ApplianceDesc applianceFromJson(Json const& j, std::string const& file, int line) {
  ApplianceDesc a = parseAppliance(nodeOf(j), file + ":" + std::to_string(line));
  a.file = file;
  return a;
}

}  // namespace Host
