// The appliance in JSON, as a bus record's first line carries it
#pragma once

#include <string>

#include <nlohmann/json_fwd.hpp>

#include "host/appliance/Appliance.h"

namespace Host {

// The appliance in its file's own terms: the keys and values a description
// file would give, so that applianceFromJson reads it back with the file's
// checks.
nlohmann::ordered_json applianceJson(ApplianceDesc const& a);

// An appliance written by applianceJson, checked as a description file's
// would be. `file` names the JSON's source and `line` its line in messages
// ("FILE:LINE: reason", InputError).
ApplianceDesc applianceFromJson(nlohmann::ordered_json const& j, std::string const& file, int line);

}  // namespace Host
