// agent_bench: the agent's cost, measured. Prints one summary table; pass
// Google Benchmark flags (--benchmark_filter=..., --benchmark_out=FILE) as
// usual. "--virtual-day" runs only the virtual day, in a process of its own
// that the parent measures. The exit status is 1 when a benchmark failed (its
// error is in the summary), whatever the targets' verdicts.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench/BenchNetns.h"
#include "bench/DayBench.h"
#include "bench/HostMemoryBench.h"
#include "bench/MdioBench.h"
#include "bench/ProtodownBench.h"
#include "bench/Summary.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--virtual-day") == 0)
    return Bench::virtualDayMain();

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 2;

  Bench::SummaryReporter reporter;
  std::string whyNot;
  if (!Bench::registerProtodownBenchmarks(&whyNot)) {
    std::string const note = "protodown benchmarks skipped: no network namespace: " + whyNot;
    std::fprintf(stderr, "%s\n", note.c_str());
    reporter.noteIs(note);
  }
  whyNot.clear();
  if (!Bench::registerMdioBenchmarks(&whyNot)) {
    std::string const note = "MII ioctl benchmarks skipped: no network namespace: " + whyNot;
    std::fprintf(stderr, "%s\n", note.c_str());
    reporter.noteIs(note);
  }
  whyNot.clear();
  if (!Bench::registerHostDayBenchmark(&whyNot)) {
    std::string const note = "agenthost day skipped: " + whyNot;
    std::fprintf(stderr, "%s\n", note.c_str());
    reporter.noteIs(note);
  }
  whyNot.clear();
  if (!Bench::registerHostMemoryBenchmarks(&whyNot)) {
    std::string const note = "agenthost memory skipped: " + whyNot;
    std::fprintf(stderr, "%s\n", note.c_str());
    reporter.noteIs(note);
  }
  benchmark::RunSpecifiedBenchmarks(&reporter);
  Bench::benchNetnsTeardown();
  benchmark::Shutdown();
  if (reporter.failures() > 0) {
    std::fprintf(stderr, "agent_bench: %u benchmark runs failed\n", reporter.failures());
    return 1;
  }
  return 0;
}
