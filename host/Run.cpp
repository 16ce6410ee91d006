#include "host/Run.h"

#include "host/MetricsLibrary.h"
#include "host/Session.h"

#include "host/control/ControlProtocol.h"
#include "host/control/ControlServer.h"
#include "host/show/Metrics.h"

namespace Host {

namespace {

// The control socket unless --no-control. When the default path is taken
// by another host the run goes without one; a path given with --control
// must work. Throws std::runtime_error.
std::unique_ptr<ControlServer> controlServer(Options const& o, ControlContext& context,
                                             std::function<void(std::string const&)> const& tell) {
  if (o.noControl)
    return nullptr;
  std::string path = o.control.empty() ? Control::defaultSocketPath() : o.control;
  auto handler = [&context](std::vector<std::string> const& argv, Control::Access access) {
    return controlCommand(context, argv, access);
  };
  try {
    auto server = std::make_unique<ControlServer>(path, handler);
    tell("control socket: " + path + " (try: agentctl" +
         (o.control.empty() ? "" : " --socket " + path) + " show agent)");
    return server;
  } catch (ControlSocketBusy const& e) {
    if (!o.control.empty())
      throw;
    tell(std::string(e.what()) + "; running without a control socket (--control PATH gives one)");
    return nullptr;
  }
}

}  // namespace

Run::Run(Options const& o) {
  if (!o.metrics.empty())
    metricsServer_ = metricsServerAt(o.metrics);
}

void Run::sessionIs(ApplianceDesc appliance, SessionOptions const& options,
                    Timeline const& timeline, Orba::Ptr<Hardware::Mdio::Bus> bus) {
  session_ = std::make_unique<Session>(std::move(appliance), options, timeline, bus);
}

void Run::metricsServe(std::function<void(std::string const&)> const& tell) {
  if (metricsServer_) {
    metricsServer_->serve(*session_->metrics());
    tell("metrics: " + metricsServer_->url());
  }
}

std::string const& Run::cpuModeText() const noexcept {
  return session_->cpuModeText();
}

void Run::agentLoad() {
  session_->load();
}

void Run::controlServe(Options const& o, std::function<void(std::string const&)> const& tell,
                       std::function<std::uint32_t(std::string const&)> traceLevels,
                       std::function<void(std::string const&, std::uint32_t)> traceLevelsIs) {
  control_ = std::make_unique<ControlContext>(
      ControlContext{*session_, std::move(traceLevels), std::move(traceLevelsIs)});
  server_ = controlServer(o, *control_, tell);
}

void Run::agentStart() {
  session_->start();
}

RunningAgent& Run::agent() noexcept {
  return *session_;
}

void Run::stopAgent() {
  session_->stop();
}

Run::~Run() {
  stopServing();
}

void Run::stopServing() {
  server_.reset();
  if (metricsServer_ && session_)
    metricsServer_->withdraw(*session_->metrics());
  metricsServer_.reset();
}

}  // namespace Host
