#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "soak/Appliance.h"
#include "soak/Report.h"
#include "soak/Soak.h"

namespace Soak {

// splitmix64: the same sequence for a seed on every machine and library.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : s_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (s_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }
  bool chance(double p) { return static_cast<double>(next() >> 11) * 0x1.0p-53 < p; }
  double between(double lo, double hi) {
    return lo + (hi - lo) * static_cast<double>(next() >> 11) * 0x1.0p-53;
  }

 private:
  std::uint64_t s_;
};

class SoakTimer;

enum class Fault {
  linkChange,
  latchFlap,
  registerTamper,
  mdioErrors,
  invalidRead,
  miiReadFail,
  adminState,
  intfConfigChurn,
  sliceChurn,
  hamLoss,
  mgmtChurn,
  configChange,
};

// The faults the soak injects into the appliance: which kinds, how often,
// and how each is carried out. It draws every random number of the run, so
// that one seed makes one run. A fault also tells the appliance what the
// agent can no longer know (tainted registers) or must now hold (the
// mirrored enabled states). A new kind of fault is one entry of Fault, one
// row of kFaults (in Faults.cpp) and one case of inject().
class Faults {
 public:
  Faults(Options const& options, Appliance& appliance, Report& report, Summary& sum);
  ~Faults();
  Faults(Faults const&) = delete;
  Faults& operator=(Faults const&) = delete;

  // Drops the wake-ups that end lasting faults, before the appliance goes.
  void tearDown();

  // Between two cycles: now and then, a few faults.
  void betweenCycles();
  // How many of the agent's events into this cycle to inject faults in its
  // middle; 0 for none this cycle.
  unsigned midCycleEvents();
  void midCycle() { injectSome(true); }

  // A configuration change waits for a cycle with a register transaction
  // in flight (most cycles have none).
  bool configChangePending() const { return configChangePending_; }
  // Makes the pending change if a transaction is outstanding and the ham
  // is there.
  void configChangeIfOutstanding();

  // The faults stop: lasting ones end now.
  void stop();

  // Whether a fault was injected, or a lasting one ended, since the last
  // call.
  bool takeFaulted() {
    bool const f = faulted_;
    faulted_ = false;
    return f;
  }

 private:
  void injectSome(bool midCycle);
  // Carries out one fault; false when it does not apply in the present
  // state.
  bool inject(Fault f, bool midCycle);
  void note(std::string text) { report_.note(std::move(text)); }

  Appliance& a_;
  Report& report_;
  Summary& sum_;
  Rng rng_;
  std::array<std::unique_ptr<SoakTimer>, kPorts> miiRestore_;
  std::unique_ptr<SoakTimer> hamRestore_;
  bool configChangePending_ = false;
  bool faulted_ = false;
};

}  // namespace Soak
