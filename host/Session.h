#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "host/SessionOptions.h"
#include "host/agent/RunningAgent.h"
#include "host/appliance/Appliance.h"
#include "host/appliance/StateDb.h"
#include "host/keeper/ProtodownKeeper.h"
#include "host/os/AgentLibrary.h"
#include "host/os/FileIdentity.h"
#include "host/os/PrivateNetns.h"
#include "host/os/ProtodownWatch.h"
#include "host/show/Metrics.h"
#include "host/show/StatusExport.h"
#include "host/show/Timeline.h"

namespace Host {

// Hears every reload of a session: its beginning, and its end whatever the
// outcome.
class ReloadListener {
 public:
  virtual void reloadBegins() {}
  virtual void reloadEnded(ReloadOutcome const& outcome) = 0;

 protected:
  ~ReloadListener() = default;
};

// One run of the agent on one appliance: the state database over the
// appliance's MDIO bus, the CPU netdevice handling, the loaded agent and its
// root, the status export. Building it does not start the agent; start()
// does. `bus` is the appliance's MDIO bus when the caller has opened it (a
// real bus must be opened before the session enters a private network
// namespace); null: the state database makes the bus the appliance describes.
class Session final : public RunningAgent {
 public:
  Session(ApplianceDesc appliance, SessionOptions const& options, Timeline const& timeline,
          Orba::Ptr<Hardware::Mdio::Bus> bus = {});
  ~Session();
  Session(Session const&) = delete;
  Session& operator=(Session const&) = delete;

  // Loads the agent library (which registers its types).
  void load();
  // Creates the root and calls doInit (loading the library first if need
  // be). The mounts complete through the event loop.
  void start();
  // Destroys the root: the agent runs its teardown. Idempotent.
  void stop();

  // Called after everything the host changes (scenario events, commands):
  // with the simulated manager, the agent's own manager is replaced before
  // the next link pass could use it; new CPU netdevices get their macvlan.
  void afterHostChange() override;

  // Reads the appliance file again and makes it the running description:
  // the reload is planned against the state database as it is now
  // (planReload), the plan printed, the CPU netdevices it brings made, then
  // the plan applied, all or nothing. A file that cannot be read, that
  // needs a restart, or whose MDIO netdevice has a switch the kernel's own
  // driver owns is refused and changes nothing; a step that fails
  // undoes what was made. `trigger` names who asked ("SIGHUP", "control
  // socket"). The listeners hear the reload begin and end. Never throws.
  ReloadOutcome reload(std::string const& trigger) override;
  void reloadListenerIs(ReloadListener* l);
  void reloadListenerDel(ReloadListener* l);

  // Starts the bus record of the state database's bus (FieldRecord's
  // recordStart) in a new file, and returns the path written: a relative
  // name is taken in the service's state directory when the service manager
  // gives one ($STATE_DIRECTORY), else in the host's working directory.
  // Throws InputError with a line for the user when the name is refused (a
  // file of the run, a name that is taken, a place the service loses at its
  // stop), std::runtime_error when the file cannot be made.
  std::string recordStart(std::string const& path, std::size_t limit, bool fromStart) override;

  // Where the session's own lines go: what it did, and what it refused or
  // could not do. By default both are timeline notes.
  using Say = std::function<void(std::string const&)>;
  void reportIs(Say say, Say complain);
  // The ports whose status is news: the external ports of the management
  // interfaces in force.
  std::set<unsigned> portsInUse() const;
  // One warning line per CPU netdevice the management interfaces name that
  // this machine lacks (only where the agent acts on the machine's own
  // netdevices).
  std::vector<std::string> cpuNetdevWarnings() const;

  ApplianceDesc const& appliance() const noexcept { return appliance_; }
  StateDb& db() noexcept override { return *db_; }
  Timeline const& timeline() const noexcept override { return timeline_; }
  CpuMode cpuMode() const noexcept override { return cpuMode_; }
  PrivateNetns* netns() const noexcept override { return netns_.get(); }
  std::string const& cpuModeText() const noexcept { return cpuModeText_; }
  AgentLibrary const& library() const noexcept override { return library_; }
  Orba::Ptr<AgentBase::CAgent> const& root() const noexcept override { return root_; }
  // The root's state machine, or empty before the mounts complete.
  Orba::Ptr<Orba::Node> stateMachine() const override;
  StatusWatcher* statusWatcher() const noexcept override { return status_.get(); }
  // The metrics, or null when not asked for.
  Metrics* metrics() const noexcept override { return metrics_.get(); }
  // The protodown keeper, or null where the agent acts on no real
  // netdevice (or the kernel cannot be watched).
  ProtodownKeeper* keeper() const noexcept override { return keeper_.get(); }

  static constexpr char const* kTestCpuIfMgrType = "Bcm53134::Agent::TestCpuIfMgr";

 private:
  void chooseCpuMode(SessionOptions const& options);
  // Writes the agent's pollPeriod attribute; throws what refuses it.
  void pollPeriodIs(double seconds);
  void ensureSimulatedCpuIfMgr();
  void watchKernelProtodown();
  // The CPU netdevices of the management interfaces in force, each with
  // its interface.
  std::map<std::string, std::string> cpuNetdevs() const;
  void checkCpuNetdevs();
  ReloadOutcome reloadFile(std::vector<std::string>& madeNetdevs);
  void outputsFollow();

  ApplianceDesc appliance_;
  Timeline const& timeline_;
  std::string agentName_, libDir_, applianceFile_;
  std::vector<RunFile> files_;
  Say say_, complain_;
  std::vector<ReloadListener*> reloadListeners_;
  CpuMode cpuMode_ = CpuMode::simulated;
  std::string cpuModeText_;
  std::unique_ptr<PrivateNetns> netns_;
  std::unique_ptr<StateDb> db_;
  std::unique_ptr<StatusWatcher> status_;
  std::unique_ptr<StatusFollower> timelineOut_;
  std::unique_ptr<StatusFile> statusFile_;
  std::unique_ptr<Metrics> metrics_;
  std::unique_ptr<StatusFollower> metricsOut_;
  std::unique_ptr<ProtodownWatch> protodown_;
  std::unique_ptr<ProtodownKeeper> keeper_;
  AgentLibrary library_;
  Orba::Ptr<AgentBase::CAgent> root_;
};

}  // namespace Host
