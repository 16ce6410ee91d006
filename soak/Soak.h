// The soak: the agent under seeded random faults for hours of virtual time, invariants checked
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "soak/CpuSide.h"

namespace Soak {

struct Options {
  std::uint64_t seed = 20240611;
  double hours = 1;
  bool verbose = false;  // print every fault as it is injected
};

// An invariant that did not hold, or an agent that stopped, crashed or
// leaked. what() says which, with the seed and the virtual time.
class Violation : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Summary {
  double virtualSeconds = 0;
  unsigned cycles = 0;
  unsigned checkedCycles = 0;
  std::uint32_t transactions = 0;  // register transactions issued (the last xid)
  unsigned registerAccesses = 0;   // on the chip, MII status reads aside
  unsigned miiStatusReads = 0;
  std::map<std::string, unsigned> faults;  // by kind
  std::map<std::string, unsigned> checks;  // invariant checks made, by invariant
};

// Runs the soak: a four-interface appliance on the simulated chip in virtual
// time under seeded random faults, checking the invariants after every cycle
// that saw no fault. Throws Violation.
Summary run(Options const& options, CpuSide& cpu);

}  // namespace Soak
