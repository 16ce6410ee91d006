// The protodown keeper: each CPU netdevice's protodown held at the agent's verdict
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "host/attr/AgentView.h"
#include "host/os/KernelLink.h"
#include "host/show/StatusExport.h"
#include "platform/kiv/EventLoop.h"

namespace Host {

// Holds each CPU netdevice's protodown at the agent's verdict against the
// appliance's other owners: an operator's `ip link set … protodown off`, a
// network manager that deletes the netdevice and makes it anew, another
// program that renames it. Whenever the kernel shows otherwise than the
// agent's verdict (disabled: on; enabled: off; no verdict: left alone), the
// keeper has the agent act again through its own attribute interface: it
// deletes the manager's entry of that name (cpuInterfaceDel), so the
// agent's next link pass sends its verdict as for a new interface, with its
// own trace lines. The keeper never sets protodown itself.
//
// It judges only on the kernel's word given after the agent last acted:
// between poll cycles on a notification, and after a cycle that changed a
// verdict or acted on a restore, on a fresh dump asked for then. A restore
// that held is said in one line and counted; one that did not is tried once
// more, and after two failures at most once a minute (backing off to ten),
// with one line saying why in the kernel's terms (the netdevice's kind,
// the protodown reason bits other programs hold). A steady state costs no
// netlink request: while kernel and verdict agree the keeper only reads
// the verdicts at the end of each cycle.
class ProtodownKeeper : public Kiv::EventObserver {
 public:
  static constexpr Kiv::Seconds kBackoff = 60;
  static constexpr Kiv::Seconds kBackoffMax = 600;
  static constexpr Kiv::Seconds kHoldMax = 7 * 24 * 3600;
  using Say = std::function<void(std::string const&)>;

  // `askKernel` asks for a fresh view of every netdevice, which comes as
  // kernelIs calls and then kernelSynced; `say` hears the keeper's lines;
  // `changed` hears that keeping() changed.
  ProtodownKeeper(std::function<void()> askKernel, Say say, std::function<void()> changed);
  ~ProtodownKeeper();
  ProtodownKeeper(ProtodownKeeper const&) = delete;
  ProtodownKeeper& operator=(ProtodownKeeper const&) = delete;

  // The agent's root, or null when it is gone.
  void rootIs(Orba::Node* root);
  // The CPU netdevices to keep, each with its management interface; after
  // every change of the appliance.
  void netdevsIs(std::map<std::string, std::string> const& interfaces);
  // What the kernel shows of a netdevice (null: none of that name).
  void kernelIs(std::string const& netdev, KernelLink const* link);
  // A dump asked for has been read whole.
  void kernelSynced();
  // An operator's hold: the keeper leaves `netdev` alone until `until` (the
  // loop's seconds), then follows the verdict again; until <= now releases
  // it. Throws std::invalid_argument for a netdevice it does not keep, or
  // a hold longer than kHoldMax.
  void holdIs(std::string const& netdev, Kiv::Seconds until);

  // Each kept netdevice's state, by name.
  std::map<std::string, ProtodownKeeping> const& keeping() const noexcept { return view_; }

  void afterEvent() override;

 private:
  // Where a restore stands.
  enum class Phase {
    steady,   // nothing asked of the agent
    asked,    // its entry deleted: waiting for a poll cycle to begin
    acting,   // a cycle began since: waiting for it to end with a verdict
    judging,  // it did: waiting for the kernel's fresh view
  };
  struct Kept {
    Phase phase = Phase::steady;
    bool shownOn = false;  // what the kernel showed when the restore began
    std::string kind;      // the netdevice's kind, as the kernel names it
    unsigned failures = 0;
    Kiv::Seconds nextTry = 0;
    bool dirty = false;  // the kernel said something not yet judged
  };
  struct Timer : Kiv::Timer {
    explicit Timer(ProtodownKeeper& k) : keeper(k) {}
    void onTimer() override { keeper.due(); }
    ProtodownKeeper& keeper;
  };
  struct Posted : Kiv::Timer {
    explicit Posted(ProtodownKeeper& k) : keeper(k) {}
    void onTimer() override { keeper.evaluateDirty(); }
    ProtodownKeeper& keeper;
  };

  void cycleEnded();
  void evaluateSoon();
  void evaluateDirty();
  void evaluate(std::string const& netdev);
  void judge(std::string const& netdev, ProtodownKeeping& v, Kept& k, bool agree);
  void restore(std::string const& netdev, ProtodownKeeping& v, Kept& k);
  std::string trouble(std::string const& netdev, ProtodownKeeping const& v, Kept const& k) const;
  void ask();
  void due();
  void armTimer();
  void publish();

  std::function<void()> askKernel_;
  Say say_;
  std::function<void()> changed_;
  AgentView agent_;
  std::map<std::string, ProtodownKeeping> view_, published_;
  std::map<std::string, Kept> kept_;
  bool inCycle_ = false;
  bool awaitingSync_ = false;
  Timer timer_{*this};
  Posted posted_{*this};
};

}  // namespace Host
