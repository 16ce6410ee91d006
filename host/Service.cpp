#include "host/Service.h"

#include <algorithm>
#include <cstdio>

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

Service::Service(Session& session, ServiceManager& manager, Say say, Say complain)
    : session_(session),
      manager_(manager),
      say_(std::move(say)),
      complain_(std::move(complain)),
      wakeupsAtStart_(pollWakeups()) {
  session_.statusWatcher()->listenerIs(*this, "service status line");
  session_.statusWatcher()->attempt(*this, [this] {
    manager_.statusIs("starting: " + statusLine(session_.db().mgmtInterfaces().size(), {}));
  });
  watchdog_ = std::make_unique<ServiceWatchdog>(
      manager_, pollWakeups, [this] { return stallLimit(); },
      [this](bool stalled, Kiv::Seconds idle) {
        char buf[128];
        std::snprintf(buf, sizeof buf,
                      stalled ? "no poll step for %.0f s: watchdog keep-alives stop"
                              : "poll steps go on again after %.0f s: watchdog keep-alives resume",
                      idle);
        complain_(buf);
      },
      // Only a poll period that makes the limit longer than the rule's own
      // minute changes the manager's interval.
      [](Kiv::Seconds limit) { return limit > kStallLimit; });
  readyTimer_.arm(Kiv::EventLoop::instance().now());
  session_.reloadListenerIs(this);
}

Service::~Service() {
  session_.statusWatcher()->listenerDel(*this);
  session_.reloadListenerDel(this);
}

Kiv::Seconds Service::stallLimit() const {
  auto sm = session_.stateMachine();
  if (!sm)
    return kStallLimit;
  auto period = Kiv::Generic::get(*sm, "pollPeriod");
  auto const* p = std::any_cast<Kiv::Seconds>(&period.raw());
  return p ? std::max(kStallLimit, 3 * *p) : kStallLimit;
}

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
  statusLineIs();
  manager_.ready();
  say_("ready: " + manager_.status());
}

void Service::statusChanged(StatusChange const& change) {
  manager_.statusIs(statusLine(session_.db().mgmtInterfaces().size(), change.now));
}

void Service::statusLineIs() {
  auto& watcher = *session_.statusWatcher();
  watcher.attempt(*this, [&] {
    manager_.statusIs(statusLine(session_.db().mgmtInterfaces().size(), watcher.last()));
  });
}

// A reload before the service is ready (a SIGHUP during a slow start) is
// not the manager's business: its READY=1 is still to come.
void Service::reloadBegins() {
  reloading_ = ready_;
  if (reloading_)
    manager_.reloading();
}

void Service::reloadEnded(ReloadOutcome const& outcome) {
  // The number of interfaces may have changed with no change of status.
  statusLineIs();
  if (reloading_)
    manager_.ready();
  reloading_ = false;
}

void Service::stopping() {
  manager_.stopping();
}

}  // namespace Host
