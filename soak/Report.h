#pragma once

#include <deque>
#include <string>

#include "soak/Soak.h"

namespace Soak {

// What the soak tells of its run: the faults as they are injected (printed
// when verbose, the latest kept), and the report of a violation, which names
// the seed, the virtual time, the cycle and those latest faults.
class Report {
 public:
  Report(Options const& options, Summary const& sum) : opt_(options), sum_(sum) {}

  void note(std::string text);
  [[noreturn]] void violation(std::string const& invariant, std::string const& detail) const;

 private:
  Options const& opt_;
  Summary const& sum_;
  std::deque<std::string> recent_;
};

}  // namespace Soak
