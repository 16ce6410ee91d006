#include "host/RunRecord.h"

#include "host/agent/RunningAgent.h"
#include "host/appliance/StateDb.h"
#include "host/record/FieldRecord.h"
#include "platform/bus/record/RecordingBus.h"

namespace Host {

// Starts the bus record of --record, before the agent starts; false when
// there is none. Throws std::runtime_error when it cannot be made.
bool startRecord(Options const& o, RunningAgent& agent,
                 std::function<void(std::string const&)> const& tell) {
  if (o.record.empty())
    return false;
  auto limit = o.recordLimit ? o.recordLimit : Hardware::Mdio::Record::RecordingBus::kDefaultLimit;
  std::string path = agent.recordStart(o.record, limit, true);
  tell("record: every MDIO bus access to " + path + " (size limit " + std::to_string(limit) +
       " bytes)");
  return true;
}

void endRecord(RunningAgent& agent, std::function<void(std::string const&)> const& tell) {
  auto& r = agent.db().recorder();
  if (!r.recording())
    return;
  r.recordingEnd();
  tell(recordSummary(r));
}

}  // namespace Host
