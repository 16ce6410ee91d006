// Field records read back: for a replay of the appliance's bus, or as a
// scenario to edit (the records are written by host/record/FieldRecord.h)
#pragma once

#include <string>

#include "host/appliance/Appliance.h"
#include "platform/bus/record/BusRecord.h"

namespace Host {

// Reads a record; InputError ("FILE:LINE: reason") when it is refused. Never
// blocks: a FIFO or device is refused unread.
Hardware::Mdio::Record::BusRecord loadBusRecord(std::string const& path);
// The appliance the record's first line describes, checked as a file's
// would be, on the simulated chip (whatever transport the record was made on).
ApplianceDesc recordedAppliance(Hardware::Mdio::Record::BusRecord const& r);
// A scenario for the simulated chip whose events make the link and register
// changes the record saw, and its failed accesses, on the recorded
// appliance: a start for an engineer to edit and keep.
std::string scenarioFromRecord(Hardware::Mdio::Record::BusRecord const& r);

}  // namespace Host
