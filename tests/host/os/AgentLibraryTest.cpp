// The agent library is loaded by name; each way that fails says which
// library, where, and why, in the loader's words.

#include "host/os/AgentLibrary.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/host/HostTestSupport.h"

namespace {

std::string refusal(std::string const& name, std::string const& dir) {
  try {
    Host::loadAgentLibrary(name, dir);
  } catch (std::runtime_error const& e) {
    return e.what();
  }
  return "loaded";
}

TEST(AgentLibrary, EveryLoadFailureNamesTheLibraryAndTheReason) {
  HostTest::TempDir dir;
  auto const& d = dir.path();
  EXPECT_EQ(refusal("", d), "no agent name given");
  EXPECT_EQ(refusal("../Bcm53134Agent", d),
            "'../Bcm53134Agent' is not an agent name (letters, digits, _ and -)");
  EXPECT_EQ(refusal("Missing", d), "cannot load agent Missing: " + d +
                                       "/libMissing.so: cannot open shared object file: No "
                                       "such file or directory");
  dir.file("libBogus.so", std::string(128, 'x'));
  EXPECT_EQ(refusal("Bogus", d),
            "cannot load agent Bogus: " + d + "/libBogus.so: invalid ELF header");
  // A real shared library, but none of an agent: one of the host's own.
  auto const service =
      std::filesystem::path(AGENTHOST_BIN).parent_path() / "../lib/libagenthost-service.so";
  std::filesystem::copy_file(service, d + "/libNotAnAgent.so");
  EXPECT_EQ(refusal("NotAnAgent", d), d + "/libNotAnAgent.so has no entry point "
                                          "agentRootFactory; is it an agent library?");
}

}  // namespace
