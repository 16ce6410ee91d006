// One protodown change of a macvlan in a private network namespace: the
// agent's operation, a bare libnl setlink (the floor for a socket per
// operation) and the ip command a user would script. Each iteration flips
// the flag, so every request is a real change; wall time, as the kernel's
// share and the ip child's do not show in this process's CPU time.
#include "bench/ProtodownBench.h"

#include <fcntl.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netlink/msg.h>
#include <netlink/netlink.h>
#include <netlink/socket.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <string>

#include "Bcm53X/CpuIfMgr/MacVlanCpuInterface.h"
#include "bench/Appliance.h"
#include "bench/Bench.h"
#include "bench/BenchNetns.h"
#include "host/keeper/ProtodownKeeper.h"
#include "host/os/ProtodownWatch.h"
#include "tests/support/Netns.h"

extern char** environ;

namespace Bench {

namespace {

constexpr char const* kDevice = "mgmt1";

// The benchmarks' namespace, with mgmt1 on v0 (bench/BenchNetns.h).
TestSupport::NetNamespace* ns = nullptr;

bool netnsReady(benchmark::State& st) {
  ns = benchNetns(st);
  return ns != nullptr;
}

// Checks after the runs that the last request took effect.
void verify(benchmark::State& st, bool expected) {
  if (ns->protodown(kDevice) != expected)
    st.SkipWithError("the device's protodown flag is not what was last set");
}

void BM_ProtodownAgent(benchmark::State& st) {
  if (!netnsReady(st))
    return;
  auto intf = Bcm53134::Agent::macVlanCpuInterfaceFactory(kDevice);
  std::uint8_t op = 0;
  for (auto _ : st) {
    op ^= 1;
    auto const error = intf->setProtodown(op);
    if (!error.empty()) {
      st.SkipWithError(error.c_str());
      return;
    }
  }
  verify(st, op == 1);
  st.SetLabel("MacVlanCpuInterface::setProtodown");
}

// RTM_SETLINK addressed by name with IFLA_PROTO_DOWN, on a socket opened and
// closed around it: the least a socket-per-operation setlink can do.
std::string bareSetlink(char const* name, std::uint8_t value) {
  struct nl_sock* sock = nl_socket_alloc();
  if (!sock)
    return "nl_socket_alloc failed";
  std::string error;
  if (int rc = nl_connect(sock, NETLINK_ROUTE); rc < 0) {
    error = nl_geterror(rc);
  } else if (struct nl_msg* msg = nlmsg_alloc_simple(RTM_SETLINK, 0); !msg) {
    error = "nlmsg_alloc_simple failed";
  } else {
    struct ifinfomsg ifi;
    std::memset(&ifi, 0, sizeof ifi);
    ifi.ifi_family = AF_UNSPEC;
    if (nlmsg_append(msg, &ifi, sizeof ifi, NLMSG_ALIGNTO) < 0 ||
        nla_put_string(msg, IFLA_IFNAME, name) < 0 || nla_put_u8(msg, IFLA_PROTO_DOWN, value) < 0) {
      nlmsg_free(msg);
      error = "building the request failed";
    } else if (int rc = nl_send_sync(sock, msg); rc < 0) {
      error = nl_geterror(rc);
    }
  }
  nl_socket_free(sock);
  return error;
}

void BM_ProtodownBareLibnl(benchmark::State& st) {
  if (!netnsReady(st))
    return;
  std::uint8_t op = 0;
  for (auto _ : st) {
    op ^= 1;
    if (auto const error = bareSetlink(kDevice, op); !error.empty()) {
      st.SkipWithError(error.c_str());
      return;
    }
  }
  verify(st, op == 1);
  st.SetLabel("bare libnl setlink, socket per operation");
}

// "ip link set dev mgmt1 protodown on|off", spawned directly (no shell); the
// child inherits this thread's namespace.
void BM_ProtodownIpCommand(benchmark::State& st) {
  if (!netnsReady(st))
    return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  bool on = false;
  for (auto _ : st) {
    on = !on;
    char const* argv[] = {"ip",   "link", "set", "dev", kDevice, "protodown", on ? "on" : "off",
                          nullptr};
    pid_t pid;
    int status = 0;
    if (posix_spawnp(&pid, "ip", &actions, nullptr, const_cast<char* const*>(argv), environ) != 0 ||
        ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      st.SkipWithError("ip link set failed");
      break;
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  verify(st, on);
  st.SetLabel("ip link set dev mgmt1 protodown on|off");
}

// The agent resolves the device's index before it opens its socket; this is
// that step alone.
void BM_ProtodownNameLookup(benchmark::State& st) {
  if (!netnsReady(st))
    return;
  for (auto _ : st) {
    if (::if_nametoindex(kDevice) == 0) {
      st.SkipWithError("if_nametoindex failed");
      return;
    }
  }
  st.SetLabel("if_nametoindex alone");
}

}  // namespace

// The protodown keeper over the steady cycle: one management interface
// whose CPU netdevice, mgmt1 in the benchmarks' namespace, shows what the
// agent decided. Per cycle the keeper reads the state machine after every
// event and the verdicts at the cycle's end; it asks the kernel nothing
// (asks, counted) and allocates nothing while the two agree. The kernel's
// answers are read in real time, the cycles run in virtual time.
void BM_KeeperSteadyCycle(benchmark::State& st) {
  if (!netnsReady(st))
    return;
  ns->ip("link set " + std::string(kDevice) + " protodown off");
  auto& loop = Kiv::EventLoop::instance();
  Appliance app(1, Appliance::Transport::sim);
  if (!app.settle()) {
    st.SkipWithError("the appliance did not settle");
    return;
  }
  bool synced = false;
  unsigned asks = 0;
  std::unique_ptr<Host::ProtodownWatch> watch;
  Host::ProtodownKeeper keeper([&] { ++asks, watch->refresh(); }, [](std::string const&) {}, [] {});
  watch = std::make_unique<Host::ProtodownWatch>(
      std::set<std::string>{kDevice},
      [&](std::string const& dev, Host::KernelLink const* link) { keeper.kernelIs(dev, link); });
  watch->syncedIs([&] {
    synced = true;
    keeper.kernelSynced();
  });
  keeper.rootIs(app.root.get());
  keeper.netdevsIs({{kDevice, "Management1"}});
  Kiv::Seconds const period = app.sm().pollPeriod();
  // Until the keeper has the verdict and the kernel's view of it.
  for (int i = 0; i < 3; ++i) {
    loop.advance(period);
    struct Stop : Kiv::Timer {
      bool* synced;
      Kiv::Seconds until;
      void onTimer() override {
        if (*synced || Kiv::EventLoop::instance().now() > until)
          Kiv::EventLoop::instance().stop();
        else
          arm(Kiv::EventLoop::instance().now() + 0.001);
      }
    } stop;
    loop.modeIs(Kiv::EventLoop::Mode::realTime);
    synced = false;
    stop.synced = &synced;
    stop.until = loop.now() + 2;
    stop.arm(loop.now());
    loop.run();
    loop.modeIs(Kiv::EventLoop::Mode::virtualTime);
  }
  auto const& kept = keeper.keeping().at(kDevice);
  if (kept.verdict != std::optional<bool>(false) || kept.kernel != std::optional<bool>(false)) {
    st.SkipWithError("the keeper did not learn the verdict and the kernel's view");
    return;
  }
  unsigned const asksBefore = asks;
  auto const allocs = allocations();
  for (auto _ : st)
    loop.advance(period);
  st.counters["allocs"] = perIteration(static_cast<double>(allocations() - allocs));
  st.counters["asks"] = perIteration(asks - asksBefore);
  st.SetLabel("steady cycle with the protodown keeper, N=1");
}

bool registerProtodownBenchmarks(std::string* whyNot) {
  if (!TestSupport::NetNamespace::available(whyNot))
    return false;
  registerKernelBenchmark("BM_ProtodownAgent", &BM_ProtodownAgent);
  registerKernelBenchmark("BM_ProtodownBareLibnl", &BM_ProtodownBareLibnl);
  registerKernelBenchmark("BM_ProtodownIpCommand", &BM_ProtodownIpCommand);
  registerKernelBenchmark("BM_ProtodownNameLookup", &BM_ProtodownNameLookup);
  benchmark::RegisterBenchmark("BM_KeeperSteadyCycle", &BM_KeeperSteadyCycle);
  return true;
}

}  // namespace Bench
