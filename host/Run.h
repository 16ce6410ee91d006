#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/Options.h"
#include "host/SessionOptions.h"
#include "host/agent/RunningAgent.h"
#include "host/appliance/Appliance.h"
#include "host/control/ControlCommands.h"
#include "host/os/AgentLibrary.h"
#include "host/show/Timeline.h"
#include "platform/bus/Bus.h"

namespace Host {

class ControlServer;
class Session;
class MetricsServer;

// The parts of a run, which each way of running builds in the one order
// every run needs: the /metrics endpoint first (constructor: its threads
// start with the host's signals blocked, and it listens in the host's own
// network namespace even when the agent gets a private one), the session,
// the metrics served, the agent loaded, the control socket, the agent
// started. Each step throws what stops the run.
class Run {
 public:
  explicit Run(Options const& options);
  // Stops serving first, then tears the agent down.
  ~Run();
  Run(Run const&) = delete;
  Run& operator=(Run const&) = delete;

  // The session on the appliance; a real bus is opened before it.
  void sessionIs(ApplianceDesc appliance, SessionOptions const& options, Timeline const& timeline,
                 Orba::Ptr<Hardware::Mdio::Bus> bus);
  // The metrics on the endpoint, when there is one, and its line.
  void metricsServe(std::function<void(std::string const&)> const& tell);
  std::string const& cpuModeText() const noexcept;
  void agentLoad();
  // The control socket unless --no-control, its commands acting on the
  // agent with these trace hooks.
  void controlServe(
      Options const& o, std::function<void(std::string const&)> const& tell,
      std::function<std::uint32_t(std::string const&)> traceLevels = handleTraceLevels,
      std::function<void(std::string const&, std::uint32_t)> traceLevelsIs = handleTraceLevelsIs);
  void agentStart();

  Session& session() noexcept { return *session_; }
  RunningAgent& agent() noexcept;
  // Tears the agent down (Session::stop).
  void stopAgent();
  // The control socket closed and the metrics withdrawn, before the agent
  // is torn down. Idempotent.
  void stopServing();

 private:
  std::unique_ptr<MetricsServer> metricsServer_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<ControlContext> control_;
  std::unique_ptr<ControlServer> server_;
};

}  // namespace Host
