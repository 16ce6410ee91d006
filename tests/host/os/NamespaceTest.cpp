// The private network namespace of the CPU netdevices, against the real
// kernel: made, entered, looked at with ip, and removed (or kept).

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "host/os/Command.h"
#include "host/os/PrivateNetns.h"
#include "tests/support/Emulation.h"
#include "tests/support/Netns.h"

namespace {

bool listed(std::string const& name) {
  std::string out;
  Host::runProgram({"ip", "netns", "list"}, &out);
  return out.find(name) != std::string::npos;
}

std::string uniqueName(char const* what) {
  return std::string("aghtest-") + what + "-" + std::to_string(::getpid());
}

// Removed with the host, or kept with what is in it; a name is never made
// twice.
TEST(PrivateNetns, NamedNamespaceIsMadeEnteredAndRemovedOrKept) {
  REQUIRE_NETNS();
  for (bool keep : {false, true}) {
    auto name = uniqueName(keep ? "keep" : "rm");
    {
      auto ns = Host::PrivateNetns::make(name, {"mgmt1", "mgmt2"}, keep);
      EXPECT_TRUE(ns->named());
      EXPECT_TRUE(listed(name));
      // The process is inside it: the macvlans are here, protodown off.
      std::string why;
      EXPECT_EQ(ns->protodown("mgmt1", &why), false) << why;
      Host::ipOrThrow({"link", "set", "mgmt2", "protodown", "on"});
      EXPECT_EQ(ns->protodown("mgmt2", &why), true);
      EXPECT_EQ(ns->protodown("mgmt9", &why), std::nullopt);
      EXPECT_NE(why.find("mgmt9"), std::string::npos) << why;
      ns->netdevAdd("mgmt3");
      EXPECT_NE(Host::ipOrThrow({"-n", name, "-d", "link", "show", "mgmt3"}).find("macvlan"),
                std::string::npos);
      EXPECT_EQ(ns->inspectCommand(), "ip -n " + name + " -d link show");
      try {
        Host::PrivateNetns::make(name, {}, false);
        ADD_FAILURE() << "a second namespace of the same name was made";
      } catch (std::runtime_error const& e) {
        EXPECT_NE(std::string(e.what()).find("exists already"), std::string::npos) << e.what();
      }
    }
    EXPECT_EQ(listed(name), keep);
    if (keep) {
      auto shown = Host::ipOrThrow({"-n", name, "-d", "link", "show", "mgmt2"});
      EXPECT_NE(shown.find("protodown on"), std::string::npos) << shown;
      Host::ipOrThrow({"netns", "del", name});
    }
    // Back in the original namespace, where no mgmt1 was made.
    std::string out;
    EXPECT_NE(Host::runProgram({"ip", "link", "show", "mgmt1"}, &out), 0);
  }
}

TEST(PrivateNetns, WithoutRootTheNamespaceLivesInAUserNamespace) {
  SKIP_UNDER_EMULATION(
      "unshare(CLONE_NEWUSER) wants a single-threaded caller and the emulator runs a thread "
      "of its own: EINVAL");
  REQUIRE_NETNS();
  // A child that gives up root first; the parent's namespaces stay as they are.
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
        ::setresuid(65534, 65534, 65534) != 0)
      ::_exit(10);
    // As a user who started the host: its /proc files are its own.
    ::prctl(PR_SET_DUMPABLE, 1);
    try {
      auto ns = Host::PrivateNetns::make("unused", {"mgmt1"}, true);
      if (ns->named() || ns->keep())
        ::_exit(11);
      Host::ipOrThrow({"link", "set", "mgmt1", "protodown", "on"});
      std::string why;
      ::_exit(ns->protodown("mgmt1", &why) == true ? 0 : 12);
    } catch (std::runtime_error const& e) {
      std::fprintf(stderr, "%s\n", e.what());
      ::_exit(e.what() == std::string_view("cannot make a user and network namespace (unshare)")
                  ? 13
                  : 14);
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 13)
    GTEST_SKIP() << "unprivileged user namespaces are not allowed here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
