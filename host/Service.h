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
// poll step). Without a service manager it only says when the agent is
// ready and carries out reloads.
class Service {
 public:
  using Say = std::function<void(std::string const&)>;
  // A poll cycle that has not moved for this long has stalled.
  static constexpr Kiv::Seconds kStallLimit = 60;

  // Built after session.start() and before the loop runs. `say` hears what
  // the service did, `complain` why something was refused.
  Service(Session& session, ServiceManager& manager, Say say, Say complain,
          Kiv::Seconds stallLimit = kStallLimit);
  ~Service();
  Service(Service const&) = delete;
  Service& operator=(Service const&) = delete;

  bool ready() const noexcept { return ready_; }
  // Re-reads the appliance file and applies it to the running session. A
  // file that cannot be read, or that changes something only a restart can,
  // is refused with the reason and changes nothing; otherwise each change
  // applied is said in one line. The manager hears RELOADING=1 before and
  // READY=1 after, whatever the outcome.
  void reload(std::string const& path);
  // STOPPING=1, before the agent is torn down.
  void stopping();

 private:
  struct ReadyTimer : Kiv::Timer {
    explicit ReadyTimer(Service& s) : owner(s) {}
    void onTimer() override { owner.checkReady(); }
    Service& owner;
  };
  void checkReady();
  void statusChanged();

  Session& session_;
  ServiceManager& manager_;
  Say say_, complain_;
  std::uint64_t wakeupsAtStart_;
  bool ready_ = false;
  ReadyTimer readyTimer_{*this};
  StatusWatcher status_;
  std::unique_ptr<ServiceWatchdog> watchdog_;
};

}  // namespace Host
