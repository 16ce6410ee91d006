#include "host/control/CommandFamilies.h"

#include <algorithm>

#include "host/agent/RunningAgent.h"
#include "host/control/CommandSupport.h"
#include "host/show/TraceOutput.h"
#include "platform/kiv/Trace.h"

// trace: the levels of every trace facility, shown and changed.
namespace Host::Commands {

Json traceCommand(ControlContext& c, std::vector<std::string> const& argv) {
  if (argv.size() == 1) {
    Table t({"facility", "levels"});
    Json jr = Json::object();
    auto handles = Kiv::TraceHandle::handles();
    std::sort(handles.begin(), handles.end(),
              [](auto const* a, auto const* b) { return a->name() < b->name(); });
    for (auto const* h : handles) {
      auto m = c.traceLevels(h->name());
      t.row({h->name(), levelsText(m)});
      jr[h->name()] = levelsText(m);
    }
    return done(t.text(""), jr);
  }
  needArgs(argv, 3, 3, "trace FACILITY LEVELS (e.g. trace Bcm53134Agent 0,1,8)");
  auto const& facility = argv[1];
  std::vector<std::string> names;
  for (auto const* h : Kiv::TraceHandle::handles())
    names.push_back(h->name());
  if (facility != "*" && std::find(names.begin(), names.end(), facility) == names.end()) {
    std::sort(names.begin(), names.end());
    throw CommandError("no trace facility " + facility + " (facilities: " + joined(names) +
                       ", or * for all)");
  }
  std::uint32_t mask = 0;
  try {
    mask = Kiv::TraceHandle::parseLevels(argv[2]);
  } catch (std::invalid_argument const& e) {
    throw CommandError(std::string(e.what()) + "; levels are written 0,1,8 or 0-8 or all or none");
  }
  c.traceLevelsIs(facility, mask);
  logged(c.agent, "trace " + facility + "/" + levelsText(mask));
  return done(facility + " levels " + levelsText(mask),
              Json{{"facility", facility}, {"levels", levelsText(mask)}});
}

}  // namespace Host::Commands

namespace Host {

std::uint32_t handleTraceLevels(std::string const& facility) {
  auto const* h = Kiv::TraceHandle::handle(facility);
  return h ? h->mask() : 0;
}

void handleTraceLevelsIs(std::string const& facility, std::uint32_t mask) {
  Kiv::TraceHandle::maskSpecIs(facility + "/" + levelsText(mask));
}

}  // namespace Host
