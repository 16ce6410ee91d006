#include "soak/Soak.h"

#include <functional>

#include "soak/Appliance.h"
#include "soak/Faults.h"
#include "soak/Invariants.h"
#include "soak/Report.h"
#include "tests/support/Loop.h"

namespace Soak {

namespace {

// A cycle that has not begun or ended after this much virtual time has
// stalled. The longest the soak keeps the hardware away is 10 s.
constexpr Kiv::Seconds kStallLimit = 60;
// Fault-free cycles at the start, before the object count is measured.
constexpr unsigned kWarmUpCycles = 3;
// Consecutive fault-free cycles asked of the agent once the faults stop.
constexpr unsigned kSettleCycles = 5;
constexpr unsigned kSettleLimit = 60;

// One soak run: the poll cycles of the agent on the appliance, with the
// faults injected between and in them and the invariants judged after.
class Run {
 public:
  Run(Options const& options, CpuSide& cpu)
      : opt_(options),
        appliance_(cpu),
        report_(opt_, sum_),
        faults_(opt_, appliance_, report_, sum_),
        invariants_(appliance_, report_, sum_) {}
  Summary run();

 private:
  void build();
  void tearDown();
  void cycle(bool faults);
  bool runUntil(std::function<bool()> const& pred);
  [[noreturn]] void violation(std::string const& invariant, std::string const& detail) const {
    report_.violation(invariant, detail);
  }
  bool idle() const { return appliance_.idle(); }

  Options opt_;
  Summary sum_;
  Appliance appliance_;
  Report report_;
  Faults faults_;
  Invariants invariants_;
};

void Run::build() {
  appliance_.build();
  appliance_.start();
}

void Run::tearDown() {
  faults_.tearDown();
  appliance_.tearDown();
}

// Runs the agent's event loop until pred holds, checking after every event
// what must hold after every event. False when the stall limit passed.
bool Run::runUntil(std::function<bool()> const& pred) {
  return TestSupport::runUntil(
      [&] {
        invariants_.afterEvent();
        return pred();
      },
      kStallLimit);
}

void Run::cycle(bool faults) {
  if (faults)
    faults_.betweenCycles();
  auto const before = invariants_.snapshot();

  if (!runUntil([this] { return !idle(); }))
    violation("the poll cycle never stalls",
              "no poll cycle began within " + std::to_string(kStallLimit) + " s");
  if (faults_.configChangePending()) {
    runUntil([this] { return appliance_.outstanding() || idle(); });
    faults_.configChangeIfOutstanding();
  }
  if (faults) {
    if (unsigned events = faults_.midCycleEvents()) {
      runUntil([&] { return --events == 0 || idle(); });
      if (!idle())
        faults_.midCycle();
    }
  }
  if (!runUntil([this] { return idle(); }))
    violation("the poll cycle never stalls",
              "a poll cycle did not end within " + std::to_string(kStallLimit) + " s");
  ++sum_.cycles;
  invariants_.cycleEnded(before, faults_.takeFaulted());
}

Summary Run::run() {
  auto const endTime = opt_.hours * 3600.0;
  std::int64_t liveBefore = 0;
  {
    // Process-wide objects made on first use (the activity clock, type
    // registrations) are made by a first appliance, so that the count
    // before and after the soak's own appliance compares like with like.
    TestSupport::SimAppliance warm;
    warm.start();
  }
  liveBefore = Orba::Node::liveCount();

  try {
    build();
    // The first cycle began inside the machine's constructor.
    while (sum_.checkedCycles < kWarmUpCycles) {
      if (sum_.cycles == kWarmUpCycles + 1)
        violation("the agent settles without faults",
                  "no " + std::to_string(kWarmUpCycles) + " clean cycles at the start");
      cycle(false);
    }
    invariants_.liveBoundFromNow();

    while (TestSupport::now() < endTime)
      cycle(true);

    // The faults stop: lasting ones end now, and the agent must settle into
    // cycles that pass every check.
    faults_.stop();
    unsigned clean = 0;
    for (unsigned n = 0; clean < kSettleCycles; ++n) {
      if (n == kSettleLimit)
        violation("the agent settles once the faults stop",
                  std::to_string(kSettleLimit) + " cycles without " +
                      std::to_string(kSettleCycles) + " clean ones in a row");
      auto const checked = sum_.checkedCycles;
      cycle(false);
      clean = sum_.checkedCycles > checked ? clean + 1 : 0;
    }
  } catch (Violation const&) {
    throw;
  } catch (std::exception const& e) {
    violation("the agent never throws", e.what());
  }
  sum_.virtualSeconds = TestSupport::now();
  sum_.transactions = appliance_.sm().xid();
  sum_.registerAccesses = appliance_.app().chip->registerAccesses();
  sum_.miiStatusReads = appliance_.app().chip->miiStatusReadsTotal();

  tearDown();
  invariants_.released(liveBefore);
  return sum_;
}

}  // namespace

Summary run(Options const& options, CpuSide& cpu) {
  Run r(options, cpu);
  return r.run();
}

}  // namespace Soak
