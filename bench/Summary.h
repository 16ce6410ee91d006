#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace Bench {

// Shows progress on stderr while the benchmarks run and, at the end, prints
// one Markdown summary on stdout: the machine, every measurement, and each
// target against what was measured.
class SummaryReporter : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(Context const& context) override;
  void ReportRuns(std::vector<Run> const& runs) override;
  void Finalize() override;

  // A line for the notes under the tables (why something did not run).
  void noteIs(std::string note) { notes_.push_back(std::move(note)); }
  // Benchmarks that stopped with an error (a cycle that did not complete, a
  // child that failed): the program's exit status says so.
  unsigned failures() const { return failures_; }

 private:
  // One run per benchmark and arguments, in the order first seen: the median
  // of its repetitions when there are several.
  std::vector<Run> runs_;
  std::vector<std::string> notes_;
  std::string machine_;
  unsigned failures_ = 0;
};

}  // namespace Bench
