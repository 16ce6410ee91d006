#include "bench/Summary.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <tuple>

#include "bench/Bench.h"

namespace Bench {

namespace {

using Run = benchmark::BenchmarkReporter::Run;

double seconds(double t, benchmark::TimeUnit unit) {
  return t / benchmark::GetTimeUnitMultiplier(unit);
}
double wallOf(Run const& r) {
  return seconds(r.GetAdjustedRealTime(), r.time_unit);
}
std::string keyOf(Run const& r) {
  return r.run_name.function_name + (r.run_name.args.empty() ? "" : "/" + r.run_name.args);
}

std::string fmt(char const* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

std::string duration(double s) {
  if (s < 1e-6)
    return fmt("%.1f ns", s * 1e9);
  if (s < 1e-3)
    return fmt(s < 1e-5 ? "%.2f us" : "%.1f us", s * 1e6);
  if (s < 1)
    return fmt("%.1f ms", s * 1e3);
  return fmt("%.2f s", s);
}

std::optional<double> counter(Run const& r, char const* name) {
  auto it = r.counters.find(name);
  if (it == r.counters.end())
    return std::nullopt;
  return it->second.value;
}

// A child process's own CPU time where the run measured one, else this
// process's.
double cpuOf(Run const& r) {
  if (auto v = counter(r, "child_cpu_s"))
    return *v;
  return seconds(r.GetAdjustedCPUTime(), r.time_unit);
}

// Whole numbers as they are; a fraction under a hundredth (a few
// allocations over a million cycles) with two significant digits, so that
// it never reads as 0.
std::string number(double v) {
  if (v == std::floor(v))
    return fmt("%.0f", v);
  if (std::fabs(v) < 0.01)
    return fmt("%.2g", v);
  return fmt("%.2f", v);
}

// "BM_SteadyCycle/N:2/trace:0" -> the function and its argument values.
struct Name {
  std::string function;
  std::map<std::string, std::string> args;
};
Name parse(Run const& r) {
  Name n;
  n.function = r.run_name.function_name;
  std::stringstream ss(r.run_name.args);
  std::string part;
  while (std::getline(ss, part, '/')) {
    auto colon = part.find(':');
    if (colon != std::string::npos)
      n.args[part.substr(0, colon)] = part.substr(colon + 1);
  }
  return n;
}

std::string title(Run const& r) {
  Name const n = parse(r);
  auto arg = [&](char const* a) { return n.args.count(a) ? n.args.at(a) : std::string(); };
  std::string const trace = arg("trace") == "1" ? ", trace 0+1" : ", trace off";
  if (n.function == "BM_SteadyCycle")
    return "1. steady cycle, N=" + arg("N") + trace;
  if (n.function == "BM_SteadyCycleMiiIoctl")
    return "1. steady cycle over the MII ioctl bus, N=" + arg("N") + trace;
  if (n.function == "BM_SteadyCycleRecorder")
    return "1. steady cycle behind the bus recorder, N=" + arg("N") + trace +
           (arg("recording") == "1" ? ", recording" : ", not recording");
  if (n.function == "BM_KeeperSteadyCycle")
    return "1. steady cycle with the protodown keeper, N=1, trace off";
  if (n.function == "BM_FirstCycle")
    return "2. first cycle, N=" + arg("N") + trace;
  if (n.function == "BM_LinkDownCycle")
    return "3. link-down cycle, N=" + arg("N") + trace;
  if (n.function == "BM_ProtodownAgent")
    return "4. protodown: agent (ProtodownOp)";
  if (n.function == "BM_ProtodownBareLibnl")
    return "4. protodown: bare libnl floor";
  if (n.function == "BM_ProtodownIpCommand")
    return "4. protodown: ip link set";
  if (n.function == "BM_ProtodownNameLookup")
    return "4. (its name lookup alone)";
  if (n.function == "BM_MiiIoctlBusRead")
    return "6. MII ioctl round trip: bus read (refused by a veth)";
  if (n.function == "BM_MiiIoctlBare")
    return "6. MII ioctl round trip: bare ioctl (refused by a veth)";
  if (n.function == "BM_VirtualDay")
    return "5. virtual day, in process";
  if (n.function == "BM_VirtualDayProcess")
    return "5. virtual day, own process";
  if (n.function == "BM_HostDay")
    return "5. virtual day, agenthost scenario";
  if (n.function == "BM_HostProduction")
    return std::string("7. agenthost in production") + (arg("metrics") == "1" ? ", --metrics" : "");
  if (n.function == "BM_HostHelp")
    return "7. agenthost --help";
  if (n.function == "BM_TraceStatement")
    return std::string("trace statement, level ") + (arg("on") == "1" ? "on" : "off");
  return r.benchmark_name();
}

// Table order: by benchmark, then trace off before on, then by N.
constexpr char const* kOrder[] = {"BM_SteadyCycle",         "BM_SteadyCycleMiiIoctl",
                                  "BM_SteadyCycleRecorder", "BM_KeeperSteadyCycle",
                                  "BM_FirstCycle",          "BM_LinkDownCycle",
                                  "BM_TraceStatement",      "BM_ProtodownAgent",
                                  "BM_ProtodownNameLookup", "BM_ProtodownBareLibnl",
                                  "BM_ProtodownIpCommand",  "BM_VirtualDay",
                                  "BM_VirtualDayProcess",   "BM_HostDay",
                                  "BM_MiiIoctlBusRead",     "BM_MiiIoctlBare",
                                  "BM_HostProduction",      "BM_HostHelp"};
std::tuple<std::size_t, int, int, int> sortKey(Run const& r) {
  Name n = parse(r);
  auto const rank = static_cast<std::size_t>(
      std::find(std::begin(kOrder), std::end(kOrder), n.function) - std::begin(kOrder));
  auto num = [&](char const* a) { return n.args.count(a) ? std::atoi(n.args[a].c_str()) : 0; };
  return {rank, num("trace") + num("metrics") + num("recording"), num("N"), num("on")};
}

std::string notes(Run const& r) {
  std::vector<std::string> parts;
  auto add = [&](char const* name, std::string const& what) {
    if (auto v = counter(r, name))
      parts.push_back(number(*v) + " " + what);
  };
  add("mii", "MII reads");
  add("regs", "register accesses");
  add("writes", "writes");
  add("lines", "trace lines");
  add("cycles", "cycles");
  add("flaps", "flaps");
  add("asks", "kernel asks");
  if (auto v = counter(r, "allocs_per_cycle"))
    parts.push_back(fmt("%.3f allocs/cycle", *v));
  if (auto v = counter(r, "rss_mib"))
    parts.push_back(fmt("peak RSS %.1f MiB", *v));
  std::string s;
  for (auto const& p : parts)
    s += (s.empty() ? "" : ", ") + p;
  return s;
}

std::string cpuModel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) {
      auto colon = line.find(':');
      if (colon != std::string::npos)
        return line.substr(colon + 2);
    }
  }
  return "unknown CPU";
}

}  // namespace

bool SummaryReporter::ReportContext(Context const& context) {
  struct utsname u {};
  ::uname(&u);
  std::ostringstream m;
  m << cpuModel() << ", " << context.cpu_info.num_cpus << " CPUs visible at "
    << fmt("%.0f", context.cpu_info.cycles_per_second / 1e6) << " MHz; Linux " << u.release << " "
    << u.machine << "; g++ " << __VERSION__ << ", " << BENCH_BUILD_TYPE << "; Google Benchmark "
    << BENCH_BENCHMARK_VERSION
    << (context.cpu_info.scaling == benchmark::CPUInfo::ENABLED ? "; CPU frequency scaling on"
                                                                : "");
  std::ifstream loadavg("/proc/loadavg");
  std::string one, five;
  if (loadavg >> one >> five)
    m << "; load average " << one << " (1 min) " << five << " (5 min) at the start";
  machine_ = m.str();
  std::fprintf(stderr, "Running the benchmarks on %s\n", machine_.c_str());
  return true;
}

void SummaryReporter::ReportRuns(std::vector<Run> const& runs) {
  for (auto const& r : runs) {
    bool const median = r.run_type == Run::RT_Aggregate;
    if (median && r.aggregate_name != "median")
      continue;
    if (r.error_occurred) {
      ++failures_;
      std::fprintf(stderr, "  %-50s failed: %s\n", r.benchmark_name().c_str(),
                   r.error_message.c_str());
    } else {
      std::fprintf(stderr, "  %-50s %12s wall %12s CPU\n", r.benchmark_name().c_str(),
                   duration(wallOf(r)).c_str(), duration(cpuOf(r)).c_str());
    }
    auto it = std::find_if(runs_.begin(), runs_.end(),
                           [&](Run const& o) { return keyOf(o) == keyOf(r); });
    if (it == runs_.end())
      runs_.push_back(r);
    else if (median || it->run_type != Run::RT_Aggregate)
      *it = r;
  }
}

void SummaryReporter::Finalize() {
  auto find = [&](std::string const& name) -> Run const* {
    for (auto const& r : runs_) {
      if (keyOf(r) == name && !r.error_occurred)
        return &r;
    }
    return nullptr;
  };

  std::stable_sort(runs_.begin(), runs_.end(),
                   [](Run const& a, Run const& b) { return sortKey(a) < sortKey(b); });
  std::printf("\nMachine: %s\n\n", machine_.c_str());
  std::printf(
      "| Benchmark | Wall / op | CPU / op | Heap allocs / op | MDIO bus floor / op | CPU "
      "share of bus floor | Notes |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---|\n");
  for (auto const& r : runs_) {
    if (r.error_occurred) {
      std::printf("| %s | failed | | | | | %s |\n", title(r).c_str(), r.error_message.c_str());
      continue;
    }
    auto const allocs = counter(r, "allocs");
    auto const bus = counter(r, "bus_us");
    std::string share;
    if (bus && *bus > 0)
      share = fmt("%.1f %%", cpuOf(r) * 1e6 / *bus * 100);
    std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", title(r).c_str(),
                duration(wallOf(r)).c_str(), duration(cpuOf(r)).c_str(),
                allocs ? number(*allocs).c_str() : "", bus ? duration(*bus * 1e-6).c_str() : "",
                share.c_str(), notes(r).c_str());
  }

  // Targets.
  struct Target {
    std::string what, measured, verdict;
  };
  std::vector<Target> targets;
  auto verdict = [](bool met) { return std::string(met ? "met" : "**missed**"); };
  auto notRun = [&](std::string what) { targets.push_back({std::move(what), "not run", "-"}); };

  if (auto r = find("BM_SteadyCycle/N:2/trace:0")) {
    double const cpu = cpuOf(*r);
    targets.push_back(
        {"steady cycle at N=2 costs at most 5 us of CPU (a tenth of its 51.2 us "
         "bus floor)",
         duration(cpu), verdict(cpu <= 5e-6)});
    double const allocs = counter(*r, "allocs").value_or(-1);
    targets.push_back(
        {"steady cycle at N=2 makes no heap allocation", number(allocs), verdict(allocs == 0)});
  } else {
    notRun("steady cycle at N=2: at most 5 us of CPU, no heap allocation");
  }
  {
    double worst = 0;
    bool any = false;
    for (auto const& r : runs_) {
      Name n = parse(r);
      if (r.error_occurred || n.args["trace"] != "0" ||
          (n.function != "BM_SteadyCycle" && n.function != "BM_SteadyCycleMiiIoctl" &&
           n.function != "BM_LinkDownCycle"))
        continue;
      any = true;
      worst = std::max(worst, counter(r, "allocs").value_or(0));
    }
    if (any) {
      targets.push_back(
          {"(also) steady (on either bus) and link-down cycles at every N make no heap allocation",
           "at most " + number(worst) + " per cycle", verdict(worst == 0)});
    }
  }
  auto const* off = find("BM_TraceStatement/on:0");
  auto const* on = find("BM_TraceStatement/on:1");
  if (off && on) {
    double const offAllocs = counter(*off, "allocs").value_or(-1);
    double const offLines = counter(*off, "lines").value_or(-1);
    bool const met = offAllocs == 0 && offLines == 0 && cpuOf(*off) < cpuOf(*on) / 20;
    targets.push_back({"a trace level that is off costs no formatting",
                       duration(cpuOf(*off)) + " per statement off, " + duration(cpuOf(*on)) +
                           " on; " + number(offAllocs) + " allocations off",
                       verdict(met)});
  } else {
    notRun("a trace level that is off costs no formatting");
  }
  auto const* agent = find("BM_ProtodownAgent");
  auto const* floor = find("BM_ProtodownBareLibnl");
  if (agent && floor) {
    // Judged on CPU time: the kernel handles the request in the sender's
    // context, so user and system time hold the whole operation, while wall
    // time also holds whatever else the machine runs meanwhile.
    double const ratio = cpuOf(*agent) / cpuOf(*floor);
    targets.push_back({"protodown operation within 1.5x of the bare libnl floor",
                       fmt("%.2fx", ratio) + " CPU (" + duration(cpuOf(*agent)) + " against " +
                           duration(cpuOf(*floor)) + "); " +
                           fmt("%.2fx", wallOf(*agent) / wallOf(*floor)) + " wall",
                       verdict(ratio <= 1.5)});
  } else {
    notRun("protodown operation within 1.5x of the bare libnl floor");
  }
  if (auto r = find("BM_KeeperSteadyCycle")) {
    double const asks = counter(*r, "asks").value_or(-1);
    double const allocs = counter(*r, "allocs").value_or(-1);
    targets.push_back(
        {"the protodown keeper's steady cycle asks the kernel nothing and "
         "allocates nothing",
         number(asks) + " asks, " + number(allocs) + " allocations",
         verdict(asks == 0 && allocs == 0)});
  } else {
    notRun("the protodown keeper's steady cycle asks the kernel nothing and allocates nothing");
  }
  // The day is judged on the host process when the host could run it, and
  // on the agent in a process of its own in any case.
  bool dayJudged = false, rssJudged = false;
  for (auto [name, what] : {std::pair{"BM_HostDay", "agenthost running the day"},
                            std::pair{"BM_VirtualDayProcess", "agent_bench --virtual-day"}}) {
    if (auto r = find(name)) {
      dayJudged = rssJudged = true;
      targets.push_back({std::string("virtual day in under one second of wall time: ") + what,
                         duration(wallOf(*r)), verdict(wallOf(*r) < 1.0)});
      double const rss = counter(*r, "rss_mib").value_or(1e9);
      targets.push_back({std::string("host under 8 MiB resident: ") + what,
                         fmt("%.1f MiB peak", rss), verdict(rss < 8.0)});
    }
  }
  if (!dayJudged)
    notRun("virtual day in under one second of wall time");
  if (!rssJudged)
    notRun("host under 8 MiB resident");
  for (auto [name, what, mib] :
       {std::tuple{"BM_HostProduction/metrics:0", "agenthost in production", 7.0},
        std::tuple{"BM_HostProduction/metrics:1", "agenthost in production with --metrics", 7.5},
        std::tuple{"BM_HostHelp", "agenthost --help", 5.0}}) {
    std::string const target = std::string(what) + " under " + fmt("%g", mib) + " MiB resident";
    if (auto r = find(name)) {
      double const rss = counter(*r, "rss_mib").value_or(1e9);
      targets.push_back({target, fmt("%.1f MiB peak", rss), verdict(rss < mib)});
    } else {
      notRun(target);
    }
  }

  std::printf("\n| Target | Measured | Verdict |\n|---|---|---|\n");
  for (auto const& t : targets)
    std::printf("| %s | %s | %s |\n", t.what.c_str(), t.measured.c_str(), t.verdict.c_str());
  for (auto const& n : notes_)
    std::printf("\nNote: %s\n", n.c_str());
  std::fflush(stdout);
}

}  // namespace Bench
