#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/hardware/Bcm53134.h"
#include "platform/kiv/EventLoop.h"
#include "platform/orba/Publisher.h"

namespace Host {

// What the hardware status entity publishes, as plain values.
struct StatusSnapshot {
  std::string error;
  std::map<unsigned, unsigned> linkStatus;  // per port present in the entity
  bool operator==(StatusSnapshot const&) const = default;
};

// The history of one port's published link status: how many times it
// changed, and when it last changed (or was first published), in the loop's
// seconds since the start.
struct LinkHistory {
  std::uint64_t transitions = 0;
  double lastChange = 0;
  bool operator==(LinkHistory const&) const = default;
};
using LinkHistories = std::map<unsigned, LinkHistory>;

StatusSnapshot snapshotOf(Hardware::Bcm53134::Status const& status);
// {"time": 4.1, "error": "", "ports": {"1": {"linkStatus": 1, "link": "linkUp",
//  "transitions": 2, "lastChange": 3.5}}}; a port without history leaves the
// last two out.
std::string statusJson(StatusSnapshot const& s, LinkHistories const& history, double time);
// One readable line per difference: "port 1 link status 0 (linkDown)",
// "port 1 removed", "error: TEXT", "error cleared".
std::vector<std::string> statusChanges(StatusSnapshot const& before, StatusSnapshot const& after);

// The status in one line a person reads at a glance (the service manager
// shows it): "2 management interfaces; links: 1 up, 2 down; error: none".
std::string statusLine(std::size_t mgmtInterfaces, StatusSnapshot const& s);

// Replaces the file's content atomically: a temporary file made exclusively
// beside it (never through a link planted there), given `mode` whatever the
// umask, renamed over it. Throws std::runtime_error with the reason when it
// cannot.
void writeFileAtomically(std::string const& path, std::string const& content, mode_t mode = 0644);

// Follows the status entity: on every change it keeps each port's link
// history, rewrites the JSON file (when one is given) and reports the
// differences to the callback. A port's first published status is not a
// transition; every later change of it is. Changes made in
// one event of the loop (a port created and its link set) are reported
// together, right after that event.
class StatusWatcher {
 public:
  using OnChange = std::function<void(std::vector<std::string> const& changes)>;
  StatusWatcher(Hardware::Bcm53134::Status& status, std::string jsonPath, OnChange onChange);
  ~StatusWatcher();
  StatusWatcher(StatusWatcher const&) = delete;
  StatusWatcher& operator=(StatusWatcher const&) = delete;

  StatusSnapshot const& last() const noexcept { return last_; }
  LinkHistories const& history() const noexcept { return history_; }
  // Writes the file now (the host does once at start).
  void write();
  // Takes in a pending change at once.
  void flush() { changed(); }
  // The ports shown from now on: those the management interfaces in force
  // use (after a reload, a port left unused keeps the last status the agent
  // published, which is no longer news). Takes effect at once, as a change.
  void portsIs(std::set<unsigned> ports);

 private:
  void changed();
  std::optional<std::set<unsigned>> ports_;
  struct FlushTimer : Kiv::Timer {
    explicit FlushTimer(StatusWatcher& w) : owner(w) {}
    void onTimer() override { owner.changed(); }
    StatusWatcher& owner;
  };

  Hardware::Bcm53134::Status& status_;
  std::string path_;
  OnChange onChange_;
  StatusSnapshot last_;
  LinkHistories history_;
  Orba::SubscriberSlot slot_;
  FlushTimer flush_{*this};
};

}  // namespace Host
