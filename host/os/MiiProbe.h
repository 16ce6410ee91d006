#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include <utility>

#include "platform/bus/Bus.h"

namespace Host {

// The MDIO bus did not answer as the appliance needs. what() names the
// access that failed, the system's reason and what to check.
class MiiProbeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The ports to look at: each port number once, with who uses it
// ("Management1 external"), in the order to look.
using ProbePorts = std::vector<std::pair<unsigned, std::string>>;

// The appliance's MDIO bus looked at by the host before the agent touches
// it, port by port.
//
// The start-up check (`full` false) reads each port's PHY identifier (MII
// registers 2 and 3). The probe (`full` true, `agenthost --probe`) also
// reads its MII status twice (the first read clears a latched link drop, so
// the second shows the link as it is now), extended control (0x10) and
// auxiliary control (0x18). Returns one line per port, e.g.
//   "port 1 (Management1 external): PHY identifier 0xae02 0x5071"
// The first access that fails ends it with MiiProbeError. Failures are not
// traced by the bus meanwhile: the error says it all.
std::vector<std::string> probeMdio(Hardware::Mdio::Bus& bus, ProbePorts const& ports, bool full);

}  // namespace Host
