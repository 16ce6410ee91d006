// Fuzz target: the scenario file. Whatever the text, the host either refuses
// it with an InputError naming a file (and line), or returns a scenario whose
// every step can be run: events carry their action, expectations their
// check, and the steps are in time order before the end.
//
// A scenario may name its appliance file by path. The target gives each
// input a directory of its own holding one good appliance.yaml and lets it
// name only files inside that directory, so that no input reads the rest of
// the machine.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "workbench/scenario/Scenario.h"

namespace {

void check(bool ok, char const* what) {
  if (!ok) {
    std::fprintf(stderr, "accepted scenario breaks: %s\n", what);
    std::abort();
  }
}

// The directory, made on first use and removed at exit.
struct Sandbox {
  Sandbox() {
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/appliance.yaml") << "switch:\n"
                                              "  managementInterfaces:\n"
                                              "    - {intfId: Management1, cpuInterface: mgmt1,\n"
                                              "       externalPort: 1, internalPort: 5}\n";
  }
  ~Sandbox() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string const dir =
      (std::filesystem::temp_directory_path() / ("scenario-fuzz-" + std::to_string(::getpid())))
          .string();
};

std::string const& sandbox() {
  static Sandbox const s;
  return s.dir;
}

// Whether an appliance (or a record to replay) named by path stays inside
// the sandbox.
bool staysInside(YAML::Node const& doc) {
  if (!doc.IsMap())
    return true;
  for (auto const& kv : doc) {
    if (kv.first.IsScalar() && kv.first.Scalar() == "chip")
      return false;
    if (!kv.first.IsScalar() || kv.first.Scalar() != "appliance" || !kv.second.IsScalar())
      continue;
    auto const& ref = kv.second.Scalar();
    if (ref.empty() || ref[0] == '/' || ref.find("..") != std::string::npos ||
        ref.find('\0') != std::string::npos)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  std::string const text(reinterpret_cast<char const*>(data), size);
  std::string const file = sandbox() + "/scenario.yaml";
  try {
    auto const doc = Host::loadYamlText(text, file);
    if (!staysInside(doc))
      return 0;
    auto const sc = Host::parseScenario(doc, file);
    double last = 0;
    for (auto const& s : sc.steps) {
      check(s.at >= last, "steps in time order");
      last = s.at;
      if (s.kind == Host::Step::Kind::event)
        check(static_cast<bool>(s.apply), "every event has its action");
      if (s.kind == Host::Step::Kind::expect)
        check(static_cast<bool>(s.check), "every expectation has its check");
    }
    check(sc.end >= last, "the end after the last step");
  } catch (Host::InputError const& e) {
    check(std::string(e.what()).rfind(sandbox(), 0) == 0, "a refusal names the file");
  } catch (std::exception const& e) {
    std::fprintf(stderr, "refused with %s instead of an InputError\n", e.what());
    std::abort();
  }
  return 0;
}
