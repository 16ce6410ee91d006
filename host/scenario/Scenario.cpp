#include "host/scenario/Scenario.h"

namespace Host {

Scenario parseScenario(YAML::Node const& doc, std::string const& file) {
  Scenario sc;
  sc.file = file;
  MapReader top(file, doc, "the scenario",
                {"name", "description", "appliance", "trace", "end", "steps"});
  sc.name = top.text("name", "");
  sc.description = top.text("description", "");
  sc.trace = top.text("trace", "Bcm53134Agent/0 CpuIfMgr/0");
  try {
    TraceSpec::parse(sc.trace);
  } catch (std::invalid_argument const& e) {
    refuse(top.at("trace"), e.what());
  }
  auto app = top.required("appliance");
  if (app.IsScalar()) {
    std::string ref = app.Scalar();
    if (!ref.empty() && ref[0] != '/') {
      auto slash = file.rfind('/');
      if (slash != std::string::npos)
        ref = file.substr(0, slash + 1) + ref;
    }
    sc.appliance = loadAppliance(ref);
  } else {
    sc.appliance = parseAppliance(app, file);
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
  for (std::size_t i = 0; i < steps.size(); ++i) {
    auto s = parseStep(steps[i], file, "steps[" + std::to_string(i) + "]", true);
    if (s.at < last) {
      refuse(s.where, "steps[" + std::to_string(i) + "] at " + std::to_string(s.at) +
                          " comes before the step above it; steps are in time order");
    }
    last = s.at;
    sc.steps.push_back(std::move(s));
  }
  sc.end = top.has("end") ? top.seconds("end") : last;
  if (sc.end < last)
    refuse(top.at("end"), "end is before the last step");
  if (sc.end > kLongestScenario)
    refuse(top.at("end"), "end is past 30 days of virtual time");
  return sc;
}

Scenario loadScenario(std::string const& path) {
  return parseScenario(loadYamlFile(path), path);
}

}  // namespace Host
