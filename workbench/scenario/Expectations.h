#pragma once

#include <string>

#include "host/appliance/Yaml.h"
#include "workbench/scenario/Step.h"

// Scenario expectations: what a step may check of the agent, the chip, the
// netdevices and the trace. A new expectation is one function in
// Expectations.cpp, one row of its table and its keys in the list there.
namespace Host {

// Reads the value of an `expect` step into s (its text and its check).
// Refuses with InputError.
void parseExpectation(Step& s, std::string const& file, YAML::Node const& value,
                      std::string const& what);

}  // namespace Host
