// Chip actions: the simulated chip's links, registers and faults, as scenario events, stdin lines
// and agentctl sim change them
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/bus/sim/SimBcm53134.h"

namespace Host {

using SimChip = Hardware::Mdio::Sim::Bcm53134Chip;

// What a chip action takes. Each front end reads the values its own way (a
// scenario's mapping, agentctl's words) with the checks below.
enum class ChipParam { port, reg, value, linkState, count, error, fail };

struct ChipArgs {
  unsigned port = 0;
  std::uint8_t reg = 0;
  std::uint16_t value = 0;
  std::string state;  // link: up, down or flap
  unsigned count = 0;
  std::string error;
  bool fail = true;
};

struct ChipAction {
  char const* event;  // the scenario event's key (also on stdin)
  char const* word;   // the agentctl sim word
  std::span<ChipParam const> params;
  // What happens, as the timeline and agentctl show it.
  std::string (*text)(ChipArgs const&);
  void (*apply)(SimChip&, ChipArgs const&);
};

// Every chip action, in the order messages list them.
std::span<ChipAction const> chipActions();
ChipAction const* chipActionByEvent(std::string_view key);
ChipAction const* chipActionByWord(std::string_view word);

// The scenario's key and agentctl's word for a parameter ("port", "PORT").
char const* chipParamKey(ChipParam p);
char const* chipParamWord(ChipParam p);
// The largest value a numeric parameter takes.
std::uint64_t chipParamMax(ChipParam p);

// The checks both front ends make, as the words that follow the value's name
// in a refusal ("must be up, down or flap"; the front end quotes the value
// as it shows values); empty when fine.
std::string linkStateProblem(std::string const& state);
std::string errorTextProblem(std::string const& text);
// The default error text of failAccesses.
inline constexpr char const* kDefaultAccessError = "MDIO access failed";

// A PHY register's name: extendedControl, auxControl and miiStatus by name,
// any other as "MII register N". by name: the register, or -1.
std::string chipRegName(std::uint8_t reg);
int chipRegByName(std::string_view name);

}  // namespace Host
