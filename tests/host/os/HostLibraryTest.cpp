// The host maps the metrics and the service manager's libraries only when a
// run asks for them, and says clearly when one cannot be loaded.

#include <gtest/gtest.h>

#include <filesystem>

#include "host/os/Command.h"
#include "tests/host/HostTestSupport.h"
#include "tests/support/Emulation.h"

namespace {

std::string const kAppliance = std::string(EXAMPLES_DIR) + "/appliance.yaml";

TEST(HostLibraries, TheHostNeedsNeitherPrometheusNorLibsystemd) {
  // ldd lists every library the loader maps at start-up, those the host's
  // own libraries need included. It cannot read a program of another
  // architecture; under an emulator the program's own loader lists them, as
  // ldd has it do.
  auto const& emulator = TestSupport::emulator();
  std::vector<std::string> ldd{"ldd", AGENTHOST_BIN};
  if (!emulator.empty())
    ldd = {emulator, "-E", "LD_TRACE_LOADED_OBJECTS=1", AGENTHOST_BIN};
  std::string out;
  ASSERT_EQ(Host::runProgram(ldd, &out), 0) << out;
  EXPECT_NE(out.find("libplatform.so"), std::string::npos) << out;
  for (auto const* lib : {"prometheus", "civetweb", "libz.so", "libsystemd", "agenthost-"})
    EXPECT_EQ(out.find(lib), std::string::npos) << lib << " in\n" << out;
}

// A host whose libraries are not beside it (a copy of the executable alone)
// refuses to start what needs them, naming the library and where it looked,
// and runs what does not.
TEST(HostLibraries, AMissingLibraryStopsTheStartWithWhereItWasLookedFor) {
  HostTest::TempDir dir;
  std::filesystem::create_directory(dir.path() + "/bin");
  std::string const host = dir.path() + "/bin/agenthost";
  std::filesystem::copy_file(AGENTHOST_BIN, host);
  std::string out;
  auto run = [&](std::vector<std::string> args) {
    args.insert(args.begin(), host);
    return Host::runProgram(TestSupport::underEmulator(std::move(args)), &out);
  };
  EXPECT_EQ(run({"--sim-cpu", "--no-control", "--metrics", "127.0.0.1:0", kAppliance}), 3) << out;
  EXPECT_NE(out.find("agenthost: cannot load the metrics (--metrics, --metrics-textfile): "
                     "libagenthost-metrics.so is not in " +
                     dir.path() + "/bin/../lib or " + dir.path() + "/bin/"),
            std::string::npos)
      << out;

  HostTest::ScopedEnv notify("NOTIFY_SOCKET", dir.path() + "/notify");
  EXPECT_EQ(run({"--sim-cpu", "--no-control", kAppliance}), 3) << out;
  EXPECT_NE(out.find("agenthost: cannot load the service manager's protocol (NOTIFY_SOCKET is "
                     "set): libagenthost-service.so is not in "),
            std::string::npos)
      << out;
  EXPECT_EQ(run({"--check", kAppliance}), 0) << out;
}

}  // namespace
