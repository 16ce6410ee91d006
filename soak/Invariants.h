#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "soak/Appliance.h"
#include "soak/Report.h"
#include "soak/Soak.h"

namespace Soak {

// What the agent guarantees, checked on the soak's appliance: after every
// event of the loop, and after every cycle that no fault disturbed. A new
// invariant is a few lines of check() (or afterEvent()), counted under its
// name; a violation throws Violation through the report.
class Invariants {
 public:
  Invariants(Appliance& appliance, Report& report, Summary& sum)
      : a_(appliance), report_(report), sum_(sum) {}

  // What a cycle is judged against: the counters and states as it began.
  struct Snapshot {
    std::array<std::array<unsigned, 2>, kPorts> reads{};
    std::array<unsigned, kPorts> extWrites{};
    unsigned registerAccesses = 0;
    unsigned registerWrites = 0;
    unsigned failuresPending = 0;
    std::size_t readValuesPending = 0;
    bool miiFailing = false;
    bool outstanding = false;  // a transaction of an abandoned cycle still in flight
    std::map<std::string, std::optional<bool>> disabledDown;
  };

  // As a cycle begins.
  Snapshot snapshot();
  // After every event of the agent's loop.
  void afterEvent();
  // As a cycle ends: judges it when nothing disturbed it. faulted: a fault
  // was injected, or a lasting one ended, since the previous cycle ended.
  void cycleEnded(Snapshot const& before, bool faulted);
  // Once the agent has settled: the live objects are bounded from now on.
  void liveBoundFromNow();
  // Once the appliance has gone: every node made for it is gone.
  void released(std::int64_t liveBefore);

 private:
  bool latentFaultFired(Snapshot const& before) const;
  void check(Snapshot const& before);
  [[noreturn]] void violation(std::string const& invariant, std::string const& detail) const {
    report_.violation(invariant, detail);
  }
  void count(char const* invariant) { ++sum_.checks[invariant]; }

  Appliance& a_;
  Report& report_;
  Summary& sum_;
  bool prevClean_ = false;           // the cycle before passed as one without faults
  bool prevWrote_ = false;           // and wrote registers
  bool prevEndedByFailure_ = false;  // the cycle before ended on a failed transaction
  std::string lastError_;            // the error text after the last event
  bool errorChanged_ = false;        // the last event published another error text
  std::size_t maxInFlight_ = 0;      // transactions in flight at once in this cycle
  std::uint32_t lastXid_ = 0;
  std::int64_t liveBound_ = 0;
  unsigned protodownChecks_ = 0;
};

}  // namespace Soak
