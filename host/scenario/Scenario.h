// Scenarios: timed steps (events, expectations, notes) run against the agent on an appliance
#pragma once

#include <string>
#include <vector>

#include "host/appliance/Appliance.h"
#include "host/appliance/Yaml.h"
#include "host/scenario/Step.h"

namespace Host {

struct Scenario {
  std::string file;
  std::string name;
  std::string description;
  ApplianceDesc appliance;
  std::string trace;  // what the timeline shows, as a trace spec
  double end = 0;     // virtual time the run ends at
  std::vector<Step> steps;
};

Scenario loadScenario(std::string const& path);
Scenario parseScenario(YAML::Node const& doc, std::string const& file);

}  // namespace Host
