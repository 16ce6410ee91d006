#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/show/OutputHealth.h"
#include "platform/hardware/Bcm53134.h"
#include "platform/kiv/EventLoop.h"
#include "platform/orba/Publisher.h"

namespace Host {

// How the host keeps one CPU netdevice's protodown at the agent's verdict
// (host/keeper): what each side shows, the restores so far, and why
// restoring does not work while it does not.
struct ProtodownKeeping {
  std::string interface;        // the management interface it belongs to
  std::optional<bool> verdict;  // the agent's: protodown on or off; empty: none yet
  std::optional<bool> kernel;   // the kernel's; empty: no netdevice of that name
  std::uint32_t reasons = 0;    // protodown reason bits the kernel shows
  std::uint64_t restores = 0;   // times the agent was had to act again, and it held
  std::string trouble;          // why restoring does not work; empty while it does
  double heldUntil = 0;         // an operator's hold ends then (0: none)
  bool operator==(ProtodownKeeping const&) const = default;
};

// What the hardware status entity publishes, as plain values.
struct StatusSnapshot {
  std::string error;
  std::map<unsigned, unsigned> linkStatus;  // per port present in the entity
  // The host's own view, beside what the agent publishes: the CPU
  // netdevices the management interfaces name that this machine does not
  // have (the agent cannot put them into protodown).
  std::set<std::string> missingNetdevs;
  // Each CPU netdevice's protodown as the host keeps it, by netdevice.
  std::map<std::string, ProtodownKeeping> protodown;
  bool operator==(StatusSnapshot const&) const = default;
};

// The history of one port's published link status: how many times it
// changed, when it last changed (or was first published), and when it last
// went down and up, in the loop's seconds since the start.
struct LinkHistory {
  std::uint64_t transitions = 0;
  double lastChange = 0;
  // When the link was last published down, and up; below 0: not since the
  // start.
  double lastDown = -1;
  double lastUp = -1;
  bool operator==(LinkHistory const&) const = default;
};
using LinkHistories = std::map<unsigned, LinkHistory>;

// A link status's name ("linkUp"), or its number when it has none.
std::string linkName(unsigned linkStatus);
StatusSnapshot snapshotOf(Hardware::Bcm53134::Status const& status);
// The status file's document, and `agentctl show status`'s:
// {"time": 4.1, "error": "", "ports": {"1": {"linkStatus": 1, "link": "linkUp",
//  "transitions": 2, "lastChange": 3.5}}}; a port without history leaves the
// last two out. Missing CPU netdevices, when there are any, follow as
// "missingCpuNetdevices": ["mgmt0"], and the CPU netdevices whose protodown
// the host keeps as "cpuNetdevices": {"mgmt0": {"interface": "Management0",
// "agentProtodown": "on", "kernelProtodown": "off", "protodownReasons": 0,
// "restores": 1}} (null: none yet, or no such netdevice), with
// "restoreTrouble" while restoring does not work and "heldUntil" during an
// operator's hold. Times are the loop's seconds, written so that they read
// back exactly.
nlohmann::ordered_json statusDocument(StatusSnapshot const& s, LinkHistories const& history,
                                      double time);
// The document as the status file's text: two spaces of indent, a line end.
std::string statusJson(StatusSnapshot const& s, LinkHistories const& history, double time);
// One readable line per difference: "port 1 link status 0 (linkDown)",
// "port 1 removed", "error: TEXT", "error cleared", "cpuInterface mgmt0
// names no netdevice of this machine", "cpuInterface mgmt0: netdevice found".
std::vector<std::string> statusChanges(StatusSnapshot const& before, StatusSnapshot const& after);

// The status in one line a person reads at a glance (the service manager
// shows it): "2 management interfaces; links: 1 up, 2 down; error: none",
// then "; no CPU netdevice mgmt0" when the machine lacks one, "; protodown
// not restored on mgmt0" while restoring does not work, "; held by hand:
// mgmt0" during a hold.
std::string statusLine(std::size_t mgmtInterfaces, StatusSnapshot const& s);

// Replaces the file's content atomically: a temporary file made exclusively
// beside it (never through a link planted there), given `mode` whatever the
// umask, renamed over it. Throws std::runtime_error with the reason when it
// cannot.
void writeFileAtomically(std::string const& path, std::string const& content, mode_t mode = 0644);

// A change of the published status, as every listener hears it: the
// readable differences (none when a failed output is given the status
// again), the status now, and each port's link history.
struct StatusChange {
  std::vector<std::string> const& lines;
  StatusSnapshot const& now;
  LinkHistories const& history;
};

// An output fed from the status: the timeline, the status file, the
// metrics, the service manager's status line. A listener that cannot do its
// work throws a std::exception saying why.
class StatusListener {
 public:
  virtual void statusChanged(StatusChange const& change) = 0;

 protected:
  ~StatusListener() = default;
};

// A listener made of a function.
class StatusFollower : public StatusListener {
 public:
  explicit StatusFollower(std::function<void(StatusChange const&)> f) : f_(std::move(f)) {}
  void statusChanged(StatusChange const& change) override { f_(change); }

 private:
  std::function<void(StatusChange const&)> f_;
};

// The status file: the status as JSON (statusJson), replaced whole on every
// change.
class StatusFile : public StatusListener {
 public:
  explicit StatusFile(std::string path) : path_(std::move(path)) {}
  std::string const& path() const noexcept { return path_; }
  // Throws std::runtime_error with the reason when the file cannot be
  // written.
  void write(StatusSnapshot const& s, LinkHistories const& history) const;
  void statusChanged(StatusChange const& change) override { write(change.now, change.history); }

 private:
  std::string path_;
};

// The one follower of the status entity. On every change it keeps each
// port's link history and tells every listener. A port's first published
// status is not a transition; every later change of it is. Changes made in
// one event of the loop (a port created and its link set) are told
// together, right after that event. Each listener is fed on its own: one
// that fails is reported once through `report` (and again when it works,
// OutputHealth), never keeps the others from their change, and is given the
// status again every kRetry until it takes it.
class StatusWatcher {
 public:
  static constexpr Kiv::Seconds kRetry = 5;
  using Report = std::function<void(std::string const&)>;
  StatusWatcher(Hardware::Bcm53134::Status& status, Report report);
  ~StatusWatcher();
  StatusWatcher(StatusWatcher const&) = delete;
  StatusWatcher& operator=(StatusWatcher const&) = delete;

  // `output` names the listener in the reports: "status file /run/s.json".
  void listenerIs(StatusListener& listener, std::string output);
  void listenerDel(StatusListener& listener);
  // Runs `write`, a listener's own write outside a change (the service's
  // status line at start-up and after a reload), under the health of its
  // changes: one output, one report of its failure, and the status given
  // again every kRetry until it is taken.
  void attempt(StatusListener& listener, std::function<void()> const& write);

  StatusSnapshot const& last() const noexcept { return last_; }
  LinkHistories const& history() const noexcept { return history_; }
  // Takes in a pending change at once.
  void flush() { changed(); }
  // The ports shown from now on: those the management interfaces in force
  // use (after a reload, a port left unused keeps the last status the agent
  // published, which is no longer news). Takes effect at once, as a change.
  void portsIs(std::set<unsigned> ports);
  // The CPU netdevices found missing (the host's own check). Takes effect
  // at once, as a change.
  void missingNetdevsIs(std::set<std::string> netdevs);
  // Each CPU netdevice's protodown as the host keeps it. Takes effect at
  // once, as a change; no line of its own (the keeper says what it does).
  void protodownIs(std::map<std::string, ProtodownKeeping> keeping);

 private:
  struct Listener {
    StatusListener* listener;
    OutputHealth health;
  };
  template <typename Owner, void (Owner::*F)()>
  struct Timer : Kiv::Timer {
    explicit Timer(Owner& o) : owner(o) {}
    void onTimer() override { (owner.*F)(); }
    Owner& owner;
  };
  void changed();
  // The times of the links published down or up in `now` that were not so
  // `before` (none: all of them).
  void linkTimes(std::map<unsigned, unsigned> const& now,
                 std::map<unsigned, unsigned> const* before = nullptr);
  void tell(std::vector<std::string> const& lines, bool failedOnly);
  void retry() { tell({}, true); }

  Hardware::Bcm53134::Status& status_;
  Report report_;
  std::optional<std::set<unsigned>> ports_;
  std::set<std::string> missingNetdevs_;
  std::map<std::string, ProtodownKeeping> protodown_;
  StatusSnapshot last_;
  LinkHistories history_;
  std::vector<std::unique_ptr<Listener>> listeners_;
  Orba::SubscriberSlot slot_;
  Timer<StatusWatcher, &StatusWatcher::changed> flush_{*this};
  Timer<StatusWatcher, &StatusWatcher::retry> retry_{*this};
};

}  // namespace Host
