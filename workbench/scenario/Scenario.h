// Scenarios: timed steps (events, expectations, notes) run against the agent on an appliance
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/appliance/Appliance.h"
#include "host/appliance/Yaml.h"
#include "platform/bus/record/BusRecord.h"
#include "workbench/scenario/Step.h"

namespace Host {

struct Scenario {
  std::string file;
  std::string name;
  std::string description;
  ApplianceDesc appliance;
  std::string trace;  // what the timeline shows, as a trace spec
  double end = 0;     // virtual time the run ends at
  std::vector<Step> steps;
  // `chip: {replay: FILE}`: the agent runs against a bus answering from this
  // record, on the record's appliance, instead of the simulated chip.
  std::shared_ptr<Hardware::Mdio::Record::BusRecord const> replay;
};

Scenario loadScenario(std::string const& path);
Scenario parseScenario(YAML::Node const& doc, std::string const& file);
// A scenario without steps that replays the record to its end.
Scenario replayScenario(std::string const& recordPath);

}  // namespace Host
