#include "workbench/scenario/StepArgs.h"

#include <cstdio>
#include <stdexcept>

#include "host/agent/RunningAgent.h"
#include "host/appliance/Appliance.h"
#include "platform/agent/CAgent.h"
#include "workbench/chip/ChipActions.h"
#include "workbench/scenario/Step.h"

namespace Host {

std::string hex(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

std::string portText(unsigned p) {
  return "port " + std::to_string(p);
}

std::string joined(std::vector<std::string> const& v) {
  std::string r;
  for (auto const& s : v)
    r += (r.empty() ? "" : ", ") + s;
  return r;
}

ChipReg chipReg(MapReader const& m, char const* key) {
  auto n = m.required(key);
  std::string s = scalarText(m.file(), n, m.what() + "." + key);
  if (int r = chipRegByName(s); r >= 0)
    return {static_cast<std::uint8_t>(r), s};
  auto v = scalarNumber(m.file(), n,
                        m.what() + "." + key +
                            " (extendedControl, auxControl, "
                            "miiStatus or an MII register number)",
                        0, 31);
  auto reg = static_cast<std::uint8_t>(v);
  return {reg, chipRegName(reg)};
}

unsigned port(MapReader const& m, char const* key) {
  return static_cast<unsigned>(m.number(key, 0, kMaxPort));
}

Orba::Node& rootOf(StepContext& w) {
  auto const& root = w.agent.root();
  if (!root)
    throw std::runtime_error("the agent is not running");
  return *root;
}

}  // namespace Host
