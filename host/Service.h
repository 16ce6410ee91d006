#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/Session.h"
#include "host/os/ServiceManager.h"
#include "host/show/StatusExport.h"

namespace Host {

// The host run as a service. It tells the service manager when the agent is
// ready (its entities mounted and its first poll cycle run), keeps a status
// line a person reads in `systemctl status`, feeds the watchdog while poll
// cycles go on, and carries out reloads of the appliance file. It watches
// the agent only through what the agent publishes (the status entity, its
// state machine's `state` read through the generic attribute interface) and
// the platform the host owns (the activity clock, whose wake-ups drive every
// poll step). It hears the session's reloads: once ready, the manager hears
// RELOADING=1 when one begins and READY=1 when it ends, whatever its
// outcome. The status line is one of the session's status outputs. Without a service manager it
// only says when the agent is ready.
class Service : private ReloadListener, private StatusListener {
 public:
  using Say = std::function<void(std::string const&)>;
  // A poll cycle that has not moved for the larger of this and three poll
  // periods (the agent's own deadline for a register result) has stalled.
  static constexpr Kiv::Seconds kStallLimit = 60;
  Kiv::Seconds stallLimit() const;

  // Built after session.start() and before the loop runs. `say` hears what
  // the service did, `complain` why something was refused.
  Service(Session& session, ServiceManager& manager, Say say, Say complain);
  ~Service();
  Service(Service const&) = delete;
  Service& operator=(Service const&) = delete;

  bool ready() const noexcept { return ready_; }
  // STOPPING=1, before the agent is torn down.
  void stopping();

 private:
  struct ReadyTimer : Kiv::Timer {
    explicit ReadyTimer(Service& s) : owner(s) {}
    void onTimer() override { owner.checkReady(); }
    Service& owner;
  };
  void checkReady();
  void statusChanged(StatusChange const& change) override;
  void statusLineIs();
  void reloadBegins() override;
  void reloadEnded(ReloadOutcome const& outcome) override;

  Session& session_;
  ServiceManager& manager_;
  Say say_, complain_;
  std::uint64_t wakeupsAtStart_;
  bool ready_ = false;
  bool reloading_ = false;
  ReadyTimer readyTimer_{*this};
  std::unique_ptr<ServiceWatchdog> watchdog_;
};

}  // namespace Host
