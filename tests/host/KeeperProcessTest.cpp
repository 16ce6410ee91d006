// The protodown keeper against the appliance's other owners, on the real
// kernel: agenthost in real time with its CPU netdevices in a private
// network namespace, every foreign change made with iproute2 as an operator
// or a network manager makes it. The poll period is cut to a quarter second
// so that a restore (which waits for the agent's next cycle) comes quickly;
// each wait is bounded and nothing is timed.

#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "tests/host/HostTestSupport.h"
#include "tests/support/Netns.h"

namespace {

using HostTest::HostProcess;
using HostTest::until;

// Management1 (mgmt1, a macvlan) with its outside link down; Management2
// (mgmt2) up, its netdevice to be replaced by a veth, which refuses
// protodown.
constexpr char const* kAppliance = R"(switch:
  managementInterfaces:
    - {intfId: Management1, cpuInterface: mgmt1, externalPort: 1, internalPort: 5}
    - {intfId: Management2, cpuInterface: mgmt2, externalPort: 2, internalPort: 6}
interfaceConfig:
  slice1: {Management1: enabled, Management2: enabled}
chip:
  links: {1: down, 2: up}
)";

class Keeper : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_NETNS();
    ns = "aghtest-keep-" + std::to_string(::getpid());
    sock = dir.path() + "/ctl.sock";
    status = dir.path() + "/status.json";
    host = std::make_unique<HostProcess>(
        dir, std::vector<std::string>{"--netns=" + ns, "--control", sock, "--status", status,
                                      "--trace", "CpuIfMgr/0-1 Bcm53134Agent/0",
                                      dir.file("keep.yaml", kAppliance)});
    ASSERT_TRUE(until([&] { return protodown("mgmt1"); }, 30)) << host->out() << host->err();
    ctl({"set", "bcm53134Sm", "pollPeriod", "0.25"});
  }
  void TearDown() override {
    if (!host)
      return;
    host->signal(SIGTERM);
    host->wait();
  }

  // The output of an agentctl command that must end with this status.
  std::string ctl(std::vector<std::string> args, int status = 0) {
    auto r = HostTest::agentctl(sock, std::move(args));
    EXPECT_EQ(r.status, status) << r.out;
    return r.out;
  }
  void ip(std::string const& args) {
    std::string out;
    ASSERT_EQ(TestSupport::runCommand("ip -n " + ns + " " + args, &out), 0) << args << ": " << out;
  }
  bool protodown(std::string const& dev) {
    return HostTest::ipLink(ns, dev).find("protodown on") != std::string::npos;
  }
  // Waits until the agent's next poll is `seconds` later than it is now.
  void agentTimePasses(double seconds) {
    auto next = [&] {
      auto j = nlohmann::json::parse(ctl({"--json", "show", "agent"}), nullptr, false);
      auto const& at = j["result"]["stateMachine"]["nextPoll"]["at"];
      return at.is_number() ? at.get<double>() : 0.0;
    };
    double const end = next() + seconds;
    ASSERT_TRUE(until([&] { return next() >= end; }, seconds * 4 + 10));
  }
  nlohmann::json netdev(std::string const& name) {
    auto j = nlohmann::json::parse(HostTest::readFile(status), nullptr, false);
    return j.is_object() && j.contains("cpuNetdevices") ? j["cpuNetdevices"][name]
                                                        : nlohmann::json();
  }
  // Waits for the n-th "protodown restored" line of mgmt1 and then for the
  // kernel to show `on`.
  void restored(std::size_t n, bool on, std::string const& what) {
    EXPECT_TRUE(until(
        [&] { return HostTest::occurrences(host->out(), "protodown restored on mgmt1") >= n; }, 10))
        << what << "\n"
        << host->out();
    EXPECT_EQ(protodown("mgmt1"), on) << what;
  }

  HostTest::TempDir dir;
  std::string ns, sock, status;
  std::unique_ptr<HostProcess> host;
};

// Every way another owner takes mgmt1's protodown away while its outside
// link is down is undone within a poll period, said once and counted; with
// the link back up, a foreign protodown on is undone too, and then nothing
// more happens: no fight.
TEST_F(Keeper, ForeignChangesAreUndoneSaidOnceAndCounted) {
  ip("link set mgmt1 protodown off");
  restored(1, true, "protodown off");
  EXPECT_NE(host->out().find("protodown restored on mgmt1 (Management1): the kernel showed off, "
                             "the agent's verdict is on"),
            std::string::npos)
      << host->out();

  ip("link del mgmt1");
  ip("link add mgmt1 link agh-parent type macvlan mode bridge");
  ip("link set mgmt1 up");
  restored(2, true, "deleted and made again");

  ip("link set mgmt1 down");
  ip("link set mgmt1 name mgmt1-old");
  ip("link add mgmt1 link agh-parent type macvlan mode bridge");
  restored(3, true, "renamed away, another given the name");
  // Of a netdevice that is down the kernel tells no protodown change; it
  // tells when the netdevice comes up, and the keeper acts then.
  ip("link set mgmt1 up");

  ctl({"sim", "link", "1", "up"});
  ASSERT_TRUE(until([&] { return !protodown("mgmt1"); }, 10)) << host->out();
  ip("link set mgmt1 protodown on");
  restored(4, false, "a foreign protodown on with the link up");

  // Steady: twenty poll cycles later nothing more was sent or said.
  auto const before = host->err().size();
  agentTimePasses(5);
  EXPECT_EQ(HostTest::occurrences(host->err().substr(before), "setting protodown"), 0u)
      << host->err();
  EXPECT_EQ(HostTest::occurrences(host->out(), "protodown restored"), 4u) << host->out();
  EXPECT_EQ(netdev("mgmt1")["restores"], 4) << HostTest::readFile(status);
  EXPECT_EQ(netdev("mgmt1")["kernelProtodown"], "off");
}

// `show status`, in text and as JSON, through a link down, a restore and a
// netdevice deleted: one line per management interface, with the times of
// its link's last down and up and its CPU netdevice's protodown on both
// sides. Named, one interface, without journal lines outside the journal.
TEST_F(Keeper, ShowStatusFollowsALinkDownARestoreAndAMissingNetdevice) {
  auto status = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--json", "show", "status"});
    auto j = nlohmann::json::parse(ctl(args), nullptr, false);
    return j.is_object() ? j["result"] : nlohmann::json();
  };
  auto intf = [&](char const* name) { return status({name})["interface"]; };
  auto shows = [&](std::string const& pattern) {
    std::string shown;
    bool const found = until(
        [&] {
          return std::regex_search(shown = ctl({"show", "status"}), std::regex(pattern));
        },
        10);
    EXPECT_TRUE(found) << pattern << "\n" << shown;
  };
  // Down since the start: a time of its last down, none of an up.
  auto m1 = intf("Management1");
  EXPECT_EQ(m1["link"], "linkDown");
  EXPECT_TRUE(m1["lastDown"].is_number() && m1["lastUp"].is_null()) << m1;
  EXPECT_EQ(m1["agentProtodown"], "on");
  EXPECT_EQ(m1["kernelProtodown"], "on");

  ctl({"sim", "link", "2", "down"});
  ASSERT_TRUE(until([&] { return intf("Management2")["agentProtodown"] == "on"; }, 10));
  auto m2 = intf("Management2");
  EXPECT_EQ(m2["transitions"], 1);
  EXPECT_GT(m2["lastDown"].get<double>(), m2["lastUp"].get<double>()) << m2;
  shows(
      R"(\nManagement2 +2/6 +linkDown +[0-9]+\.[0-9]{3} +[0-9]+\.[0-9]{3} +1 +mgmt2 +on +on +0x0 +0\n)");

  ip("link set mgmt1 protodown off");
  restored(1, true, "protodown off");
  shows(R"(\nManagement1 +1/5 +linkDown +[0-9.]+ +- +0 +mgmt1 +on +on +0x0 +1\n)");
  EXPECT_EQ(intf("Management1")["restores"], 1);

  ip("link del mgmt2");
  ASSERT_TRUE(until([&] { return intf("Management2")["missingNetdevice"] == true; }, 10))
      << ctl({"show", "status"});
  EXPECT_EQ(intf("Management2")["kernelProtodown"], nullptr);
  shows(R"(\nManagement2 +2/6 +linkDown +[0-9.]+ +[0-9.]+ +1 +mgmt2 +on +no netdevice +0x0 +0\n)");
  auto const all = status({});
  ASSERT_EQ(all["interfaces"].size(), 2u) << all;
  EXPECT_EQ(all["interfaces"][1]["interface"], "Management2");

  auto const one = status({"Management1"});
  EXPECT_EQ(one["journal"], false);
  EXPECT_FALSE(one.contains("journalLines")) << one;
  auto const text = ctl({"show", "status", "Management1"});
  EXPECT_EQ(text.find("Management2"), std::string::npos) << text;
  EXPECT_NE(ctl({"show", "status", "Management7"}, 1)
                .find("no management interface Management7 (Management1, Management2)"),
            std::string::npos);
}

// Where restoring cannot work the keeper tries twice, says why once in the
// kernel's terms, and then tries at most once a minute instead of every
// cycle: mgmt1 made anew as a veth, which refuses protodown, and mgmt2 put
// into protodown by another program that holds a protodown reason bit, so
// that the kernel refuses to clear it. When that program lets go, the
// keeper restores at once.
TEST_F(Keeper, WhereRestoringCannotWorkItBacksOffAndSaysWhyOnce) {
  ip("link del mgmt1");
  ip("link add mgmt1 type veth peer name mgmt1-peer");
  ip("link set mgmt1 up");
  ip("link set mgmt2 protodown on protodown_reason 2 on");
  auto said = [&](std::string const& what) {
    return until([&] { return host->out().find(what) != std::string::npos; }, 15);
  };
  EXPECT_TRUE(
      said("protodown of mgmt1 (Management1) cannot be restored: the kernel keeps "
           "protodown off after the agent set it on (mgmt1 is a veth; a driver without "
           "protodown refuses it); trying again at most once a minute"))
      << host->out();
  EXPECT_TRUE(
      said("protodown of mgmt2 (Management2) cannot be restored: the kernel keeps "
           "protodown on after the agent cleared it: other programs hold protodown "
           "reason bits 0x4"))
      << host->out();
  auto const before = host->err().size();
  agentTimePasses(5);
  EXPECT_EQ(HostTest::occurrences(host->err().substr(before), "setting protodown"), 0u)
      << host->err();
  EXPECT_EQ(HostTest::occurrences(host->out(), "cannot be restored"), 2u) << host->out();
  EXPECT_EQ(netdev("mgmt2")["protodownReasons"], 4) << HostTest::readFile(status);
  EXPECT_NE(netdev("mgmt1")["restoreTrouble"], nullptr);
  EXPECT_NE(ctl({"show", "status"}).find("mgmt2: protodown cannot be restored: "),
            std::string::npos);

  ip("link set mgmt2 protodown_reason 2 off");
  EXPECT_TRUE(
      said("protodown restored on mgmt2 (Management2): the kernel showed on, the agent's "
           "verdict is off (after 3 tries)"))
      << host->out();
  EXPECT_FALSE(protodown("mgmt2"));
  EXPECT_EQ(netdev("mgmt2")["restoreTrouble"], nullptr);
}

// An operator's hold keeps the host's hands off until it is ended.
TEST_F(Keeper, AHoldIsRespectedUntilItEnds) {
  EXPECT_NE(ctl({"hold", "Management1", "10m"}).find("mgmt1: held by hand for 600 s"),
            std::string::npos);
  ip("link set mgmt1 protodown off");
  agentTimePasses(2);
  EXPECT_FALSE(protodown("mgmt1")) << host->out();
  EXPECT_EQ(netdev("mgmt1")["restores"], 0);
  EXPECT_NE(netdev("mgmt1")["heldUntil"], nullptr);
  ctl({"hold", "mgmt1", "off"});
  restored(1, true, "after the hold");
  EXPECT_EQ(ctl({"hold", "mgmt9", "1m"}, 1),
            "agentctl: hold: mgmt9 is no CPU netdevice of this appliance\n");
  EXPECT_EQ(ctl({"hold", "mgmt1", "-5m"}, 1),
            "agentctl: hold: '-5m' is no duration (e.g. 90s, 10m, 2h)\n");
}

}  // namespace
