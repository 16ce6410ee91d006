#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/appliance/Yaml.h"
#include "platform/orba/Node.h"

// What the scenario room's events and expectations share: reading their
// arguments and naming what they act on. Only this room includes it.
namespace Host {

struct StepContext;

std::string hex(std::uint64_t v);
std::string portText(unsigned p);
std::string joined(std::vector<std::string> const& v);

// A PHY register of the simulated chip by name or number.
struct ChipReg {
  std::uint8_t reg;
  std::string name;
};
ChipReg chipReg(MapReader const& m, char const* key);

// A switch port number, 0 to the highest the appliance knows.
unsigned port(MapReader const& m, char const* key = "port");

// The agent's root; throws when the agent is not running.
Orba::Node& rootOf(StepContext& w);

}  // namespace Host
