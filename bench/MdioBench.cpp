// One MII register read through the kernel: SIOCGMIIREG on a veth in a
// private network namespace. A veth has no MDIO bus, so the kernel refuses
// the ioctl with EOPNOTSUPP after the whole trip from the socket to the
// netdevice; on a real appliance the driver's MDIO transfer (one 25.6 us
// clause-22 frame) comes on top. The bus's read and the bare ioctl side by
// side show what the bus adds (mostly the error text it builds).
#include "bench/MdioBench.h"

#include <linux/mii.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "bench/Bench.h"
#include "bench/BenchNetns.h"
#include "platform/bus/linux/MiiIoctlBus.h"

namespace Bench {

namespace {

constexpr char const* kDevice = "v0";

void frameCounters(benchmark::State& st, std::uint64_t allocsBefore) {
  st.counters["allocs"] = perIteration(static_cast<double>(allocations() - allocsBefore));
  st.counters["bus_us"] = perIteration(kFrameMicroseconds * static_cast<double>(st.iterations()));
}

// MiiIoctlBus::read of PHY 1's MII status register on v0, refused.
void BM_MiiIoctlBusRead(benchmark::State& st) {
  if (!benchNetns(st))
    return;
  auto bus = Hardware::Mdio::Linux::MiiIoctlBus::MiiIoctlBusIs(kDevice);
  Kiv::TraceHandle& trace = Hardware::Mdio::Linux::mdioTrace();
  auto const mask = trace.mask();
  trace.maskIs(0);  // the refusal is traced once; keep it off the output
  std::uint64_t const allocsBefore = allocations();
  for (auto _ : st) {
    auto r = bus->read(1, 1);
    benchmark::DoNotOptimize(r);
  }
  frameCounters(st, allocsBefore);
  trace.maskIs(mask);
  if (bus->lastError() != EOPNOTSUPP)
    st.SkipWithError("the veth did not refuse the MII ioctl with EOPNOTSUPP");
  st.SetLabel("MiiIoctlBus::read, refused by a veth");
}

// The same request as a bare ioctl on a socket of its own.
void BM_MiiIoctlBare(benchmark::State& st) {
  if (!benchNetns(st))
    return;
  int const fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    st.SkipWithError("socket failed");
    return;
  }
  ::ifreq ifr{};
  std::strncpy(ifr.ifr_name, kDevice, IFNAMSIZ - 1);
  int err = 0;
  std::uint64_t const allocsBefore = allocations();
  for (auto _ : st) {
    auto* mii = reinterpret_cast<::mii_ioctl_data*>(&ifr.ifr_ifru);
    mii->phy_id = 1;
    mii->reg_num = 1;
    err = ::ioctl(fd, SIOCGMIIREG, &ifr) == 0 ? 0 : errno;
    benchmark::DoNotOptimize(err);
  }
  frameCounters(st, allocsBefore);
  ::close(fd);
  if (err != EOPNOTSUPP)
    st.SkipWithError("the veth did not refuse the MII ioctl with EOPNOTSUPP");
  st.SetLabel("bare ioctl(SIOCGMIIREG), refused by a veth");
}

}  // namespace

bool registerMdioBenchmarks(std::string* whyNot) {
  if (!TestSupport::NetNamespace::available(whyNot))
    return false;
  registerKernelBenchmark("BM_MiiIoctlBusRead", &BM_MiiIoctlBusRead);
  registerKernelBenchmark("BM_MiiIoctlBare", &BM_MiiIoctlBare);
  return true;
}

}  // namespace Bench
