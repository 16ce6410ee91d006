#include "host/RunSetup.h"

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

Run::Run(ApplianceDesc appliance, Options const& o, RunSetup setup, Timeline const& timeline) {
  if (!o.metrics.empty())
    metricsServer_ = metricsServerAt(o.metrics);
  session_ = std::make_unique<Session>(std::move(appliance), setup.session, timeline, setup.bus);
  if (setup.afterSession)
    setup.afterSession(*session_);
  if (metricsServer_) {
    metricsServer_->serve(*session_->metrics());
    setup.tell("metrics: " + metricsServer_->url());
  }
  setup.tell("CPU netdevices: " + session_->cpuModeText());
  if (setup.beforeLoad)
    setup.beforeLoad();
  session_->load();
  setup.tell(setup.loadedText(session_->library()));
  if (setup.control) {
    control_ = std::make_unique<ControlContext>(
        ControlContext{*session_, setup.traceLevels, setup.traceLevelsIs});
    server_ = controlServer(o, *control_, setup.tell);
  }
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
  if (metricsServer_)
    metricsServer_->withdraw(*session_->metrics());
  metricsServer_.reset();
}

}  // namespace Host
