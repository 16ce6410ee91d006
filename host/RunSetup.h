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

// What differs between the appliance run and the scenario run in the parts
// they share.
struct RunSetup {
  SessionOptions session;
  Orba::Ptr<Hardware::Mdio::Bus> bus;            // a real bus, opened before the session
  std::function<void(std::string const&)> tell;  // the run's own lines
  // The line saying which agent was loaded.
  std::function<std::string(AgentLibrary const&)> loadedText;
  // Called once the session exists, before anything is served or loaded.
  std::function<void(RunningAgent&)> afterSession;
  // Said after the CPU netdevices' line, before the agent is loaded.
  std::function<void()> beforeLoad;
  bool control = true;  // serve the control socket (unless --no-control)
  std::function<std::uint32_t(std::string const&)> traceLevels = handleTraceLevels;
  std::function<void(std::string const&, std::uint32_t)> traceLevelsIs = handleTraceLevelsIs;
};

// The parts of a run, built in the one order every run needs: the
// /metrics endpoint before the session (its threads start with the host's
// signals blocked, and it listens in the host's own network namespace even
// when the agent gets a private one), the session, the agent loaded, the
// control socket, the agent started. Throws what stops the run.
class Run {
 public:
  Run(ApplianceDesc appliance, Options const& options, RunSetup setup, Timeline const& timeline);
  // Stops serving first, then tears the agent down.
  ~Run();
  Run(Run const&) = delete;
  Run& operator=(Run const&) = delete;

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
