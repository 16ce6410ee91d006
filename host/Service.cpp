#include "host/Service.h"

#include <cstdio>

#include "host/appliance/Reload.h"
#include "platform/kiv/Clock.h"
#include "platform/kiv/Generic.h"

namespace Host {

namespace {

// How often readiness is looked for until the first poll cycle has run.
constexpr Kiv::Seconds kReadyCheck = 0.02;

std::uint64_t pollWakeups() {
  return Kiv::ActivityFacility::clock()->wakeups();
}

}  // namespace

Service::Service(Session& session, ServiceManager& manager, Say say, Say complain,
                 Kiv::Seconds stallLimit)
    : session_(session),
      manager_(manager),
      say_(std::move(say)),
      complain_(std::move(complain)),
      wakeupsAtStart_(pollWakeups()),
      status_(session.db().status(), "", [this](auto const&) { statusChanged(); }) {
  manager_.statusIs("starting: " + statusLine(session_.db().mgmtInterfaces().size(), {}));
  watchdog_ = std::make_unique<ServiceWatchdog>(
      manager_, pollWakeups, stallLimit, [this](bool stalled, Kiv::Seconds idle) {
        char buf[128];
        std::snprintf(buf, sizeof buf,
                      stalled ? "no poll step for %.0f s: watchdog keep-alives stop"
                              : "poll steps go on again after %.0f s: watchdog keep-alives resume",
                      idle);
        complain_(buf);
      });
  readyTimer_.arm(Kiv::EventLoop::instance().now());
}

Service::~Service() = default;

// The first poll cycle has run once the clock has woken the state machine at
// least once since the start (its first poll runs inside its constructor,
// without a wake-up; the steps after it come through the clock) and the
// machine is back in idle: a cycle returns there only when it ends.
void Service::checkReady() {
  auto sm = session_.stateMachine();
  if (!sm || pollWakeups() == wakeupsAtStart_ || Kiv::Generic::get(*sm, "state").text() != "idle") {
    readyTimer_.arm(Kiv::EventLoop::instance().now() + kReadyCheck);
    return;
  }
  ready_ = true;
  statusChanged();
  manager_.ready();
  say_("ready: " + manager_.status());
}

void Service::statusChanged() {
  manager_.statusIs(statusLine(session_.db().mgmtInterfaces().size(), status_.last()));
}

void Service::reload(std::string const& path) {
  manager_.reloading();
  say_("SIGHUP: reloading " + path);
  try {
    auto lines = session_.reload(loadAppliance(path));
    for (auto const& l : lines)
      say_("reload: " + l);
    say_(lines.empty() ? "reload: nothing changed"
                       : "reload: " + std::to_string(lines.size()) + " change" +
                             (lines.size() == 1 ? "" : "s") + " applied");
  } catch (InputError const& e) {
    complain_(e.what());
    complain_("reload refused; the running configuration stays in force");
  } catch (RestartNeeded const& e) {
    complain_(std::string("reload refused: ") + e.what());
  }
  statusChanged();
  manager_.ready();
}

void Service::stopping() {
  manager_.stopping();
}

}  // namespace Host
