// The kernel's protodown of named netdevices, watched through rtnetlink in a
// private namespace: a netdevice that appears, is put into protodown,
// disappears, comes back and is renamed away is reported at each change,
// and one that is not named never is, nor is a link message that another
// process sends on the kernel's link group. A burst that overruns the
// socket costs nothing: the view is right again at once. The notifications come through the loop's
// descriptor watch, which only a real-time loop polls: each step runs the loop in real time until
// the kernel's report has arrived.

#include "host/os/ProtodownWatch.h"

#include <gtest/gtest.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "platform/kiv/EventLoop.h"
#include "tests/support/Loop.h"
#include "tests/support/Netns.h"

namespace {

// What the watch reported: the netdevice and its protodown (empty: gone).
using Seen = std::vector<std::pair<std::string, std::optional<bool>>>;

Host::ProtodownWatch::OnChange into(Seen& seen) {
  return [&seen](std::string const& dev, Host::KernelLink const* link) {
    seen.emplace_back(dev, link ? std::optional<bool>(link->protodown) : std::nullopt);
  };
}

// Runs the loop in real time until `done` holds, or for at most `limit`
// seconds (a kernel that never reports fails the test, it does not hang it).
void runUntil(std::function<bool()> const& done, Kiv::Seconds limit = 5) {
  struct Check : Kiv::Timer {
    std::function<bool()> done;
    Kiv::Seconds until = 0;
    void onTimer() override {
      auto& loop = Kiv::EventLoop::instance();
      if (done() || loop.now() > until)
        loop.stop();
      else
        arm(loop.now() + 0.01);
    }
  } check;
  auto& loop = Kiv::EventLoop::instance();
  loop.modeIs(Kiv::EventLoop::Mode::realTime);
  check.done = done;
  check.until = loop.now() + limit;
  check.arm(loop.now());
  loop.run();
}

// A socket on the kernel's link group, as any process may have one.
struct LinkGroupSocket {
  LinkGroupSocket() {
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK;
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    timeval const limit{5, 0};  // a message that never comes fails the test
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }
  ~LinkGroupSocket() { ::close(fd); }
  // Sends the group a link message as the kernel words them (no request
  // flag, so the kernel itself, which hears it too, ignores it), saying
  // that `netdev`'s protodown is `on`.
  void forge(std::string const& netdev, bool on) {
    struct {
      nlmsghdr h;
      ifinfomsg i;
      rtattr nameAttr;
      char name[IFNAMSIZ];
      rtattr protodownAttr;
      unsigned char protodown[4];
    } m{};
    m.h.nlmsg_len = sizeof m;
    m.h.nlmsg_type = RTM_NEWLINK;
    m.nameAttr.rta_type = IFLA_IFNAME;
    m.nameAttr.rta_len = RTA_LENGTH(IFNAMSIZ);
    std::strncpy(m.name, netdev.c_str(), IFNAMSIZ - 1);
    m.protodownAttr.rta_type = IFLA_PROTO_DOWN;
    m.protodownAttr.rta_len = RTA_LENGTH(1);
    m.protodown[0] = on ? 1 : 0;
    sockaddr_nl group{};
    group.nl_family = AF_NETLINK;
    group.nl_groups = RTMGRP_LINK;
    ASSERT_EQ(::sendto(fd, &m, sizeof m, 0, reinterpret_cast<sockaddr*>(&group), sizeof group),
              static_cast<ssize_t>(sizeof m))
        << std::strerror(errno);
  }
  int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
};

TEST(ProtodownWatch, ANetdeviceThatGoesAndComesBackIsReportedAtEachChange) {
  REQUIRE_NETNS();
  TestSupport::resetLoop();
  TestSupport::NetNamespace ns;
  ns.ip("link add pd-parent type veth peer name pd-peer");
  Seen seen;
  {
    Host::ProtodownWatch watch({"pd0"}, into(seen));
    // A command's report (a removal may come after a report of the device
    // going down).
    auto step = [&](std::string const& command, std::optional<bool> expected) {
      auto const before = seen.size();
      ns.ip(command);
      runUntil([&] { return seen.size() > before && seen.back().second == expected; });
      ASSERT_GT(seen.size(), before) << command;
      EXPECT_EQ(seen.back(), (std::pair<std::string, std::optional<bool>>("pd0", expected)))
          << command;
    };
    runUntil([&] { return !seen.empty(); });  // the first dump: no pd0
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].second, std::nullopt);
    step("link add pd0 link pd-parent type macvlan", false);
    ns.ip("link set pd0 up");  // not news: the watch shows no up or down
    step("link set pd0 protodown on", true);
    // Sent first, a forged "protodown off" would be seen before the
    // removal the kernel reports; a second socket on the group shows that
    // it was delivered.
    LinkGroupSocket forger, listener;
    forger.forge("pd0", false);
    char got[256];
    sockaddr_nl from{};
    socklen_t fromLen = sizeof from;
    ASSERT_GT(
        ::recvfrom(listener.fd, got, sizeof got, 0, reinterpret_cast<sockaddr*>(&from), &fromLen),
        0);
    EXPECT_NE(from.nl_pid, 0u);
    step("link del pd0", std::nullopt);
    step("link add pd0 link pd-parent type macvlan", false);
    // Changes the watch does not show (the MTU, up) are not news.
    ns.ip("link set pd0 mtu 1400");
    ns.ip("link set pd0 up");
    step("link set pd0 protodown on", true);
    // Of a device that is down the kernel tells nothing; asked, it does.
    ns.ip("link set pd0 down");
    ns.ip("link set pd0 protodown off");
    watch.refresh();
    runUntil([&] { return seen.back().second == std::optional<bool>(false); });
    EXPECT_EQ(seen.back().second, std::optional<bool>(false));
    // Renamed away, it is gone; another given the name appears.
    step("link set pd0 name pd0-old", std::nullopt);
    step("link set pd-peer name pd0", false);
    EXPECT_EQ(watch.overruns(), 0u);
  }
  TestSupport::resetLoop();
  for (auto const& [dev, on] : seen)
    EXPECT_EQ(dev, "pd0") << "pd-parent and the others are not watched";
}

// A socket with the smallest receive buffer, and a burst of a hundred links
// (veth pairs)
// made while the loop is not reading: the notifications overrun it, and
// the watch asks the kernel again at once with a larger buffer, so that
// what it shows afterwards is the kernel's.
TEST(ProtodownWatch, AnOverrunIsFollowedByAFreshViewAndALargerBuffer) {
  REQUIRE_NETNS();
  TestSupport::resetLoop();
  TestSupport::NetNamespace ns;
  Seen seen;
  std::vector<std::string> said;
  {
    Host::ProtodownWatch watch(
        {"burst7", "burst99"}, into(seen), [&](std::string const& t) { said.push_back(t); }, 1);
    int const small = watch.receiveBuffer();
    bool synced = false;
    watch.syncedIs([&] { synced = true; });
    runUntil([&] { return synced; });
    std::string batch;
    for (int i = 0; i < 100; i += 2) {
      batch += "link add burst" + std::to_string(i) + " type veth peer name burst" +
               std::to_string(i + 1) + "\n";
    }
    batch += "link del burst98\n";  // and burst99, its peer
    std::string out;
    ASSERT_EQ(
        TestSupport::runCommand("printf '" + batch + "' | ip -n " + ns.name() + " -batch -", &out),
        0)
        << out;
    synced = false;
    runUntil([&] { return synced && watch.overruns() > 0; });
    EXPECT_GT(watch.overruns(), 0u);
    EXPECT_GT(watch.receiveBuffer(), small);
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said[0].rfind("kernel link watch: notifications overran the receive buffer (", 0), 0u)
        << said[0];
    ASSERT_NE(watch.shown("burst7"), nullptr);
    EXPECT_FALSE(watch.shown("burst7")->protodown);
    EXPECT_EQ(watch.shown("burst7")->kind, "veth");
    EXPECT_EQ(watch.shown("burst99"), nullptr);
  }
  TestSupport::resetLoop();
}

}  // namespace
