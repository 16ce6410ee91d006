#include "workbench/scenario/Scenario.h"

#include <algorithm>

#include "host/record/FieldRecord.h"
#include "workbench/scenario/RecordReplay.h"

namespace Host {

namespace {

std::shared_ptr<Hardware::Mdio::Record::BusRecord const> replayable(std::string const& path) {
  auto r = std::make_shared<Hardware::Mdio::Record::BusRecord>(loadBusRecord(path));
  if (!r->fromStart) {
    throw InputError(path +
                     ":1: the record was started on a running agent (agentctl record start); "
                     "a replay needs one made from the agent's start (agenthost --record)");
  }
  return r;
}

}  // namespace

Scenario parseScenario(YAML::Node const& doc, std::string const& file) {
  Scenario sc;
  sc.file = file;
  MapReader top(file, doc, "the scenario",
                {"name", "description", "appliance", "chip", "trace", "end", "steps"});
  sc.name = top.text("name", "");
  sc.description = top.text("description", "");
  sc.trace = top.text("trace", "Bcm53134Agent/0 CpuIfMgr/0");
  try {
    TraceSpec::parse(sc.trace);
  } catch (std::invalid_argument const& e) {
    refuse(top.at("trace"), e.what());
  }
  // Names in the file are relative to its folder.
  auto relative = [&file](std::string ref) {
    if (!ref.empty() && ref[0] != '/') {
      auto slash = file.rfind('/');
      if (slash != std::string::npos)
        ref = file.substr(0, slash + 1) + ref;
    }
    return ref;
  };
  if (auto chip = top.optional("chip")) {
    MapReader m(file, chip, "chip", {"replay"});
    std::string path = m.text("replay");
    if (top.has("appliance"))
      refuse(top.at("appliance"), "a replay runs the record's own appliance; drop appliance");
    sc.replay = replayable(relative(path));
    sc.appliance = recordedAppliance(*sc.replay);
  }
  if (!sc.replay) {
    auto app = top.required("appliance");
    sc.appliance =
        app.IsScalar() ? loadAppliance(relative(app.Scalar())) : parseAppliance(app, file);
  }
  if (sc.appliance.mdio != MdioTransport::sim) {
    refuse(top.at("appliance"),
           "the appliance's MDIO bus is mii-ioctl on " + sc.appliance.mdioNetdev +
               "; a scenario drives the simulated chip and needs mdio.transport: sim");
  }
  auto steps = top.required("steps");
  if (!steps.IsSequence())
    refuse(where(file, steps), "steps must be a list");
  double last = 0;
  sc.steps.reserve(steps.size());
  for (std::size_t i = 0; i < steps.size(); ++i) {
    auto s = parseStep(steps[i], file, "steps[" + std::to_string(i) + "]", true);
    if (s.at < last) {
      refuse(s.where, "steps[" + std::to_string(i) + "] at " + std::to_string(s.at) +
                          " comes before the step above it; steps are in time order");
    }
    last = s.at;
    sc.steps.push_back(std::move(s));
  }
  sc.end = top.has("end") ? top.seconds("end") : std::max(last, sc.replay ? sc.replay->end : 0.0);
  if (sc.end < last)
    refuse(top.at("end"), "end is before the last step");
  if (sc.end > kLongestScenario)
    refuse(top.at("end"), "end is past 30 days of virtual time");
  return sc;
}

Scenario replayScenario(std::string const& recordPath) {
  Scenario sc;
  sc.file = recordPath;
  sc.name = "replay of " + recordPath;
  sc.trace = "Bcm53134Agent/0 CpuIfMgr/0";
  sc.replay = replayable(recordPath);
  sc.appliance = recordedAppliance(*sc.replay);
  sc.end = sc.replay->end;
  return sc;
}

Scenario loadScenario(std::string const& path) {
  return parseScenario(loadYamlFile(path), path);
}

}  // namespace Host
