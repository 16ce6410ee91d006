// Field records: the appliance's bus recorded while it runs (read back
// for a replay or a scenario by the workbench, workbench/scenario/RecordReplay.h)
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

}  // namespace Host
