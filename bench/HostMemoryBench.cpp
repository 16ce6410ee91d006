// Peak resident memory of agenthost as it runs in production, measured by
// the kernel for the host process alone (wait4).
#include "bench/HostMemoryBench.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/Bench.h"
#include "bench/Child.h"

namespace Bench {

namespace {

#ifdef BENCH_AGENTHOST

struct HostRun : ChildRun {
  unsigned scrapes = 0;
};

// A port nobody listens on now (it may be taken again by the time the host
// binds it, which then fails the run).
unsigned freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), len);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

// GET /metrics on the loopback port; whether a whole answer came back.
bool scrape(unsigned port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    std::string const req = "GET /metrics HTTP/1.0\r\n\r\n";
    if (::send(fd, req.data(), req.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(req.size())) {
      std::string body;
      char buf[4096];
      for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
        body.append(buf, static_cast<std::size_t>(n));
      ok = body.find("agenthost_poll_cycles_completed_total") != std::string::npos;
    }
  }
  ::close(fd);
  return ok;
}

double hostSeconds() {
  char const* env = std::getenv("BENCH_HOST_SECONDS");
  return env && *env ? std::atof(env) : 60.0;
}

// Runs agenthost with `args` for `seconds` (0: until it exits by itself),
// scraping `metricsPort` every ten seconds when there is one, then stops it
// with SIGTERM.
HostRun runHost(std::vector<std::string> args, double seconds, unsigned metricsPort) {
  HostRun r;
  args.insert(args.begin(), BENCH_AGENTHOST);
  std::vector<char*> argv;
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  static_cast<ChildRun&>(r) = runChild(argv.data(), true, [&](pid_t pid) {
    if (seconds <= 0)
      return;
    auto const end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    auto next = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      if (metricsPort && std::chrono::steady_clock::now() >= next) {
        r.scrapes += scrape(metricsPort);
        next += std::chrono::seconds(10);
      }
    }
    ::kill(pid, SIGTERM);
  });
  return r;
}

void BM_HostProduction(benchmark::State& st) {
  bool const metrics = st.range(0) != 0;
  char dir[] = "/tmp/agent_bench_hostXXXXXX";
  if (!::mkdtemp(dir)) {
    st.SkipWithError("no temporary directory");
    return;
  }
  std::string const socket = std::string(dir) + "/control.sock";
  HostRun r;
  for (auto _ : st) {
    std::vector<std::string> args{"--sim-cpu", "--control", socket};
    unsigned const port = metrics ? freePort() : 0;
    if (metrics)
      args.insert(args.end(), {"--metrics", "127.0.0.1:" + std::to_string(port)});
    args.push_back(BENCH_SHIPPED_APPLIANCE);
    r = runHost(args, hostSeconds(), port);
  }
  ::unlink(socket.c_str());
  ::rmdir(dir);
  if (!r.ok || (metrics && r.scrapes == 0)) {
    st.SkipWithError("agenthost did not run and stop cleanly");
    return;
  }
  st.counters["rss_mib"] = r.peakRssMib;
  if (metrics)
    st.counters["scrapes"] = r.scrapes;
  st.SetLabel(metrics ? "the shipped appliance in real time, --metrics served and scraped"
                      : "the shipped appliance in real time");
}

void BM_HostHelp(benchmark::State& st) {
  HostRun r;
  for (auto _ : st)
    r = runHost({"--help"}, 0, 0);
  if (!r.ok) {
    st.SkipWithError("agenthost --help failed");
    return;
  }
  st.counters["rss_mib"] = r.peakRssMib;
  st.SetLabel("agenthost --help");
}

#endif

}  // namespace

bool registerHostMemoryBenchmarks(std::string* whyNot) {
#ifdef BENCH_AGENTHOST
  if (::access(BENCH_AGENTHOST, X_OK) != 0) {
    *whyNot = BENCH_AGENTHOST " is not built";
    return false;
  }
  benchmark::RegisterBenchmark("BM_HostProduction", BM_HostProduction)
      ->ArgName("metrics")
      ->Arg(0)
      ->Arg(1)
      ->Iterations(1)
      ->Repetitions(1)
      ->Unit(benchmark::kSecond);
  benchmark::RegisterBenchmark("BM_HostHelp", BM_HostHelp)
      ->Iterations(1)
      ->Repetitions(1)
      ->Unit(benchmark::kMillisecond);
  return true;
#else
  *whyNot = "this build has no agenthost";
  return false;
#endif
}

}  // namespace Bench
