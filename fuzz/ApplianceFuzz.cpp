// Fuzz target: the appliance file. Whatever the text, the host either
// refuses it with an InputError naming the file (and line), or returns a
// description that keeps every promise the rest of the host builds on.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "host/appliance/Appliance.h"

namespace {

constexpr char const* kFile = "fuzz-appliance.yaml";

void check(bool ok, char const* what) {
  if (!ok) {
    std::fprintf(stderr, "accepted appliance breaks: %s\n", what);
    std::abort();
  }
}

void checkDesc(Host::ApplianceDesc const& a) {
  std::set<std::string> ids;
  for (auto const& m : a.mgmtInterfaces) {
    check(!m.intfId.empty() && ids.insert(m.intfId).second, "unique, non-empty interface ids");
    check(m.externalPort <= Host::kMaxPort && m.internalPort <= Host::kMaxPort,
          "ports of the chip");
    check(m.externalPort != m.internalPort, "distinct external and internal ports");
    check(m.cpuInterface.empty() || Host::netdevNameProblem(m.cpuInterface).empty(),
          "usable netdevice names");
  }
  check(a.mgmtInterfaces.size() <= 255, "at most 255 management interfaces");
  std::set<std::string> slices, configured;
  for (auto const& s : a.slices) {
    check(!s.name.empty() && s.name.find('/') == std::string::npos, "valid slice names");
    check(slices.insert(s.name).second, "unique slice names");
    for (auto const& i : s.interfaces)
      check(!i.intfId.empty() && configured.insert(i.intfId).second, "one entry per interface");
  }
  for (auto const& [port, up] : a.links)
    check(port <= Host::kMaxPort, "links of chip ports");
  check(a.accessTime >= 0 && a.accessTime <= 10, "a sane chip access time");
  check(a.bus <= 31, "a bus selection bit");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  std::string const text(reinterpret_cast<char const*>(data), size);
  try {
    auto const doc = Host::loadYamlText(text, kFile);
    checkDesc(Host::parseAppliance(doc, kFile));
  } catch (Host::InputError const& e) {
    check(std::string(e.what()).rfind(kFile, 0) == 0, "a refusal names the file");
  } catch (std::exception const& e) {
    std::fprintf(stderr, "refused with %s instead of an InputError\n", e.what());
    std::abort();
  }
  return 0;
}
