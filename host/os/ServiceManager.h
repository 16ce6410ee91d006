#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/kiv/EventLoop.h"

namespace Host {

// Whether the descriptor writes to the journal: the service manager names
// the stream it connected as JOURNAL_STREAM=DEVICE:INODE, and a descriptor
// counts only while it is still that stream (a redirection in between
// breaks the match).
bool journalStream(int fd);

// libsystemd's side of the notification protocol, in a library of its own
// (kServiceLibrary) so that a host the service manager did not start maps
// neither libsystemd nor what it pulls in. The library exports it under
// kServiceProtocolSymbol.
struct ServiceProtocol {
  int (*notify)(char const* state);  // sd_notify
  std::uint64_t (*watchdogUsec)();   // sd_watchdog_enabled: 0 for none
};
inline constexpr char const* kServiceLibrary = "libagenthost-service.so";
inline constexpr char const* kServiceProtocolSymbol = "agenthostServiceProtocol";

// The service manager's notification protocol, through libsystemd's
// sd_notify: readiness, a status line, reload and stop, and watchdog
// keep-alives. Without NOTIFY_SOCKET in the environment (not started by a
// service manager of Type=notify) it sends nothing and loads nothing.
class ServiceManager {
 public:
  // Reads NOTIFY_SOCKET and the watchdog interval (WATCHDOG_USEC, for this
  // process when WATCHDOG_PID names one) from the environment. Throws
  // std::runtime_error when NOTIFY_SOCKET is set and kServiceLibrary cannot
  // be loaded.
  ServiceManager();

  bool active() const noexcept { return active_; }
  // The watchdog interval the manager asked for; 0 when it asked for none.
  Kiv::Seconds watchdogInterval() const noexcept { return watchdog_; }

  // READY=1, with the status line when one was set.
  void ready();
  // STATUS=text; sent only when the text differs from the last one sent.
  // Throws std::runtime_error with the reason when the manager cannot be
  // told.
  void statusIs(std::string const& text);
  std::string const& status() const noexcept { return status_; }
  // RELOADING=1, stamped with the monotonic clock; ready() ends it.
  void reloading();
  void stopping();
  void watchdogPing();
  // WATCHDOG_USEC: the manager's watchdog interval from now on.
  void watchdogIntervalIs(Kiv::Seconds interval);

 private:
  // sd_notify's result: negative errno on failure.
  int send(std::string const& state);
  ServiceProtocol const* protocol_ = nullptr;
  bool active_ = false;
  Kiv::Seconds watchdog_ = 0;
  std::string status_;
};

// Feeds the service manager's watchdog from the event loop, at half its
// interval, while work goes on: a loop that hangs sends nothing, and when
// the progress count (a number that grows as the work goes on) has not moved
// for longer than the stall limit the pings stop too, so that the manager
// restarts the process. The stall limit is asked for at every tick (it
// follows settings made while running); while it is longer than the
// manager's own interval and `announce` says so, the manager is told it as
// its interval (WATCHDOG_USEC), and the unit's interval again once it is not.
// `tell` hears when the pings stop (stalled, with the time the count has
// stood still) and when they resume.
class ServiceWatchdog : public Kiv::Timer {
 public:
  ServiceWatchdog(ServiceManager& manager, std::function<std::uint64_t()> progress,
                  std::function<Kiv::Seconds()> stallLimit,
                  std::function<void(bool stalled, Kiv::Seconds idle)> tell,
                  std::function<bool(Kiv::Seconds limit)> announce = {});
  // Whether the last tick found the work stalled.
  bool stalled() const noexcept { return stalled_; }

 private:
  void onTimer() override;

  ServiceManager& manager_;
  std::function<std::uint64_t()> progress_;
  std::function<Kiv::Seconds()> stallLimit_;
  std::function<void(bool, Kiv::Seconds)> tell_;
  std::function<bool(Kiv::Seconds)> announce_;
  Kiv::Seconds announced_ = 0;  // the interval told the manager; 0: the unit's
  Kiv::Seconds held_ = 0;       // the longest stall limit since the count last moved
  std::uint64_t lastCount_;
  Kiv::Seconds lastMove_;
  bool stalled_ = false;
};

}  // namespace Host
