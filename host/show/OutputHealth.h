#pragma once

#include <functional>
#include <string>

namespace Host {

// The health of one output of the host (the status file, the metrics
// textfile, the service manager's status line). Its first failure is
// reported with the reason, the failures after it are not (an output that
// fails on every change would flood the log), and the first success after a
// failure is reported as a recovery. The other outputs never hear of it.
class OutputHealth {
 public:
  using Report = std::function<void(std::string const&)>;
  // `output` names the output in the reports: "status file /run/s.json".
  OutputHealth(std::string output, Report report)
      : output_(std::move(output)), report_(std::move(report)) {}

  // "status file /run/s.json failed: cannot write /run/s.json: No space
  // left on device; the other outputs go on"
  void failed(std::string const& why);
  // "status file /run/s.json works again"
  void worked();
  bool failing() const noexcept { return failing_; }

  // Runs `write`, and records its outcome: a std::exception it throws is a
  // failure with its text as the reason. True when it worked.
  template <typename F>
  bool attempt(F&& write) {
    try {
      write();
    } catch (std::exception const& e) {
      failed(e.what());
      return false;
    }
    worked();
    return true;
  }

 private:
  std::string output_;
  Report report_;
  bool failing_ = false;
};

}  // namespace Host
