#pragma once

#include <string>

#include "host/appliance/Yaml.h"
#include "workbench/scenario/Step.h"

// Scenario events: what a step may do to the appliance or the agent. A new
// event is one function in Events.cpp and one row of its table.
namespace Host {

// Reads the event `key` with its value into s (its text and what it does).
// False when there is no such event; refuses bad arguments with InputError.
bool parseEvent(Step& s, std::string const& key, std::string const& file, YAML::Node const& value,
                std::string const& what);

// Every event's key, in the order they are documented: "link, register, ...".
std::string eventNames();

}  // namespace Host
