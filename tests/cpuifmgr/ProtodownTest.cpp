#include <gtest/gtest.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netlink/attr.h>
#include <netlink/errno.h>
#include <netlink/msg.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "Bcm53X/CpuIfMgr/MacVlanCpuIfMgr.h"
#include "Bcm53X/CpuIfMgr/ProtodownOp.h"
#include "platform/kiv/Generic.h"
#include "tests/support/Loop.h"
#include "tests/support/Netns.h"

using namespace Bcm53134::Agent;
using State = CpuInterface::State;
using Lines = std::vector<std::string>;

namespace {

// A private namespace with a veth pair v0/v1 and a macvlan m0 on v0. The
// calling thread is inside it, so libnl and if_nametoindex act there.
struct Devices {
  Devices() {
    ns.ip("link add v0 type veth peer name v1");
    ns.ip("link add link v0 name m0 type macvlan mode bridge");
  }
  TestSupport::NetNamespace ns;
};

std::size_t openFds() {
  return static_cast<std::size_t>(std::distance(
      std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator{}));
}

std::string address(void const* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%p", p);
  return buf;
}

Lines runLines(TestSupport::TraceCapture const& t) {
  Lines r;
  for (auto const& l : t.leveled()) {
    if (l.find("::run:") != std::string::npos)
      r.push_back(l);
  }
  return r;
}

// Disabling the macvlan sets protodown and enabling clears it, one request
// each; repeated verdicts send nothing and no socket stays open.
TEST(Protodown, MacvlanFollowsVerdicts) {
  REQUIRE_NETNS();
  Devices d;
  auto mgr = MacVlanCpuIfMgr::MacVlanCpuIfMgrIs();
  auto const fds = openFds();
  TestSupport::TraceCapture trace{"CpuIfMgr/0-8"};

  mgr->disable("m0");
  EXPECT_TRUE(d.ns.protodown("m0"));
  auto m0 = mgr->cpuInterface("m0");
  EXPECT_EQ(m0->state(), State::disabled);
  EXPECT_EQ(trace.leveled(), (Lines{"L1 ADDR::disable: disabling interface m0",
                                    "L1 ADDR::setProtodown: setting protodown to 1",
                                    "L1 ADDR::run: setting protodown to 1",
                                    "L1 ADDR::run: protodown operation succeeded",
                                    "L0 ADDR::disable: interface m0 disabled"}));
  // The interface traces as itself; the operation as a separate object.
  auto const self = address(m0.get());
  auto const& raw = trace.lines();
  EXPECT_NE(raw[0].find(": " + self + "::disable: "), std::string::npos) << raw[0];
  EXPECT_NE(raw[1].find(": " + self + "::setProtodown: "), std::string::npos) << raw[1];
  EXPECT_EQ(raw[2].find(self), std::string::npos) << raw[2];

  trace.clear();
  mgr->disable("m0");
  EXPECT_EQ(trace.leveled(), (Lines{"L8 ADDR::disable: interface m0 already disabled"}));
  EXPECT_TRUE(d.ns.protodown("m0"));

  trace.clear();
  mgr->enable("m0");
  mgr->enable("m0");
  EXPECT_FALSE(d.ns.protodown("m0"));
  EXPECT_EQ(m0->state(), State::enabled);
  EXPECT_EQ(trace.leveled(), (Lines{"L1 ADDR::enable: enabling interface m0",
                                    "L1 ADDR::setProtodown: setting protodown to 0",
                                    "L1 ADDR::run: setting protodown to 0",
                                    "L1 ADDR::run: protodown operation succeeded",
                                    "L0 ADDR::enable: interface m0 enabled",
                                    "L8 ADDR::enable: interface m0 already enabled"}));
  EXPECT_EQ(openFds(), fds);

  // A generic setProtodown changes the device, not the state, so the next
  // disable still sends its request.
  auto result = Kiv::Generic::call(*m0, "setProtodown", {Kiv::Value::of(Kiv::U8{1})});
  EXPECT_EQ(result.as<Orba::String>(), "");
  EXPECT_TRUE(d.ns.protodown("m0"));
  EXPECT_EQ(m0->state(), State::enabled);
  trace.clear();
  mgr->disable("m0");
  EXPECT_EQ(runLines(trace).size(), 2u);
}

// A refused request is traced, the verdict still stands, and it is not
// retried: a veth refuses the flag, and a name may have no netdevice at all
// (then no socket is even opened).
TEST(Protodown, RefusalsAreTracedAndTheVerdictStands) {
  REQUIRE_NETNS();
  Devices d;
  std::string const vethRefusal =
      "nla_send_sync failed. Error code: " + std::to_string(-NLE_OPNOTSUPP) +
      "\nIFLA_PROTO_DOWN may not be supported on the interface";
  std::string const noDevice = std::string("if_nametoindex failed: ") + std::strerror(ENODEV);
  {
    ProtodownOp op("nosuch0", 0);
    EXPECT_EQ(op.run(), noDevice);
    EXPECT_EQ(op.sock(), nullptr);
    EXPECT_EQ(op.link(), nullptr);
  }
  auto const fds = openFds();
  EXPECT_EQ(macVlanCpuInterfaceFactory("v0")->setProtodown(1), vethRefusal);

  struct Row {
    char const* name;
    bool disable;
    std::string failure;
  };
  for (auto const& row : {Row{"v0", true, vethRefusal}, Row{"nosuch0", false, noDevice}}) {
    SCOPED_TRACE(row.name);
    auto mgr = MacVlanCpuIfMgr::MacVlanCpuIfMgrIs();
    TestSupport::TraceCapture trace{"CpuIfMgr/0-8"};
    auto const verdict = [&] { row.disable ? mgr->disable(row.name) : mgr->enable(row.name); };
    verdict();
    std::string const op = row.disable ? "disable" : "enable";
    EXPECT_EQ(mgr->cpuInterface(row.name)->state(), row.disable ? State::disabled : State::enabled);
    EXPECT_EQ(runLines(trace),
              (Lines{std::string("L1 ADDR::run: setting protodown to ") + (row.disable ? "1" : "0"),
                     "L1 ADDR::run: " + row.failure}));
    EXPECT_EQ(trace.leveled().back(),
              "L0 ADDR::" + op + ": interface " + row.name + " " + op + "d");
    trace.clear();
    verdict();
    EXPECT_EQ(trace.leveled(),
              (Lines{"L8 ADDR::" + op + ": interface " + row.name + " already " + op + "d"}));
  }
  EXPECT_FALSE(d.ns.protodown("v0"));
  EXPECT_EQ(openFds(), fds);
}

// The byte goes to the kernel as given; the request is read back from the
// message that run would send.
TEST(Protodown, OtherValueIsSentUnchanged) {
  REQUIRE_NETNS();
  Devices d;
  ProtodownOp op("m0", 7);
  ASSERT_EQ(op.ifIndexResolve(), "");
  struct nl_msg* msg = nullptr;
  ASSERT_EQ(op.requestBuild(&msg), "");
  ASSERT_NE(msg, nullptr);
  auto* hdr = nlmsg_hdr(msg);
  EXPECT_EQ(hdr->nlmsg_flags & (NLM_F_CREATE | NLM_F_REPLACE), 0) << "a change, never a creation";
  auto const* ifi = static_cast<struct ifinfomsg const*>(nlmsg_data(hdr));
  EXPECT_EQ(static_cast<unsigned>(ifi->ifi_index), ::if_nametoindex("m0"));
  auto* attr = nlmsg_find_attr(hdr, sizeof(struct ifinfomsg), ProtodownOp::protodownAttr);
  ASSERT_NE(attr, nullptr);
  EXPECT_EQ(nla_len(attr), 1);
  EXPECT_EQ(nla_get_u8(attr), 7);
  nlmsg_free(msg);

  auto m0 = macVlanCpuInterfaceFactory("m0");
  EXPECT_EQ(m0->setProtodown(7), "");
  EXPECT_TRUE(d.ns.protodown("m0")) << "the kernel takes any non-zero byte as on";
}

}  // namespace
