// Field records: the appliance's bus recorded while it runs, read back for a replay or a scenario
#pragma once

#include <cstddef>
#include <string>

#include "host/appliance/Appliance.h"
#include "host/appliance/StateDb.h"
#include "platform/bus/record/BusRecord.h"

namespace Host {

// A size for --record-limit and agentctl: bytes, or with a suffix k, M or G
// (KiB, MiB, GiB). Throws std::invalid_argument.
std::size_t parseRecordLimit(std::string const& text);

// Starts writing the bus record of the state database's bus to `path`, its
// first line describing the appliance; `fromStart`: the agent has not run
// yet. Throws std::runtime_error with a line for the user (a file that
// exists or cannot be made, a record going already).
void recordStart(StateDb& db, ApplianceDesc const& appliance, std::string const& path,
                 std::size_t limit, bool fromStart);
// The line that says what a finished record holds.
std::string recordSummary(Hardware::Mdio::Record::RecordingBus const& r);

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
