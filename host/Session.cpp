#include "host/Session.h"

#include <net/if.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "host/MetricsLibrary.h"
#include "host/appliance/Reload.h"
#include "host/os/Journal.h"
#include "host/os/KernelSwitch.h"
#include "host/record/FieldRecord.h"
#include "host/show/StatusExport.h"
#include "platform/kiv/Clock.h"
#include "platform/kiv/EventLoop.h"
#include "platform/kiv/Generic.h"

namespace Host {

Session::Session(ApplianceDesc appliance, SessionOptions const& options, Timeline const& timeline,
                 Orba::Ptr<Hardware::Mdio::Bus> bus)
    : appliance_(std::move(appliance)),
      timeline_(timeline),
      agentName_(options.agentName),
      libDir_(options.libDir),
      applianceFile_(options.applianceFile),
      files_(options.files) {
  say_ = complain_ = [this](std::string const& t) { timeline_.note(t); };
  chooseCpuMode(options);
  db_ = std::make_unique<StateDb>(appliance_, std::move(bus));
  status_ = std::make_unique<StatusWatcher>(db_->status(),
                                            [this](std::string const& t) { complain_(t); });
  timelineOut_ = std::make_unique<StatusFollower>([this](StatusChange const& c) {
    for (auto const& l : c.lines)
      timeline_.line("status", l);
  });
  status_->listenerIs(*timelineOut_, "timeline");
  if (!options.statusFile.empty()) {
    // A file that cannot be written at the start stops it; later failures
    // are reported and retried.
    statusFile_ = std::make_unique<StatusFile>(options.statusFile);
    statusFile_->write(status_->last(), status_->history());
    status_->listenerIs(*statusFile_, "status file " + options.statusFile);
  }
  if (options.metrics || !options.metricsTextfile.empty()) {
    metrics_ = metricsFor(Orba::Ptr<Hardware::Bcm53134::Config>(&db_->config()),
                          options.metricsTextfile, [this](std::string const& t) { complain_(t); });
    metrics_->statusIs(status_->last(), status_->history());
    metricsOut_ = std::make_unique<StatusFollower>(
        [this](StatusChange const& c) { metrics_->statusIs(c.now, c.history); });
    status_->listenerIs(*metricsOut_, "metrics");
  }
  watchKernelProtodown();
  checkCpuNetdevs();
}

Session::~Session() {
  stop();
  keeper_.reset();
  protodown_.reset();
  status_.reset();
  metricsOut_.reset();
  metrics_.reset();
  db_.reset();
  netns_.reset();
}

void Session::chooseCpuMode(SessionOptions const& o) {
  if (appliance_.netdevices == NetdevMode::hostNamespace && o.cpu == CpuRequest::automatic) {
    if (!o.allowHostNetdevs) {
      throw std::runtime_error(appliance_.file +
                               ": netdevices: host acts on this machine's own netdevices; "
                               "scenarios never do (use netdevices: private)");
    }
    cpuMode_ = CpuMode::hostNetns;
    cpuModeText_ =
        "the agent acts on the netdevices of this machine's own network namespace "
        "(netdevices: host)";
    return;
  }
  if (o.cpu != CpuRequest::simulated) {
    std::string name =
        o.netnsName.empty() ? "agenthost-" + std::to_string(::getpid()) : o.netnsName;
    try {
      netns_ = PrivateNetns::make(name, appliance_.cpuInterfaceNames(), o.keepNetns);
      if (o.releaseNetnsName && !o.keepNetns)
        netns_->nameRelease();
      cpuMode_ = CpuMode::privateNetns;
      cpuModeText_ = netns_->describe() + "; inspect with: " + netns_->inspectCommand();
      if (o.keepNetns && !netns_->named())
        cpuModeText_ += "; an unnamed namespace cannot be kept after exit";
      return;
    } catch (std::runtime_error const& e) {
      if (o.cpu == CpuRequest::netns)
        throw std::runtime_error(std::string("no private network namespace: ") + e.what());
      cpuModeText_ = std::string("simulated (no private network namespace: ") + e.what() + ")";
    }
  } else {
    cpuModeText_ = "simulated (as asked)";
  }
  cpuMode_ = CpuMode::simulated;
  cpuModeText_ += "; the agent's CPU interface manager is replaced by " +
                  std::string(kTestCpuIfMgrType) + " before the first link pass";
}

void Session::load() {
  if (!library_.factory)
    library_ = loadAgentLibrary(agentName_, libDir_);
}

void Session::start() {
  load();
  root_ = library_.rootIs(agentName_);
  if (metrics_)
    metrics_->rootIs(root_.get());
  if (keeper_)
    keeper_->rootIs(root_.get());
  root_->doInit();
  // The mount completion was posted by doInit; this runs right after it,
  // before the state machine's first register read comes back. The file's
  // poll period takes effect by the agent's rule: after the first wait.
  Kiv::EventLoop::instance().post([this] {
    afterHostChange();
    if (!appliance_.pollPeriod)
      return;
    try {
      pollPeriodIs(*appliance_.pollPeriod);
    } catch (std::exception const& e) {
      complain_(appliance_.file + ": switch.pollPeriod not applied: " + e.what());
    }
  });
}

void Session::stop() {
  if (!root_)
    return;
  status_->flush();
  if (metrics_)
    metrics_->rootIs(nullptr);
  if (keeper_)
    keeper_->rootIs(nullptr);
  root_ = {};
  status_->flush();
}

void Session::pollPeriodIs(double seconds) {
  auto sm = stateMachine();
  if (!sm)
    throw std::runtime_error("the agent's state machine is not there");
  Kiv::Generic::set(*sm, "pollPeriod", Kiv::Value::of(seconds));
}

Orba::Ptr<Orba::Node> Session::stateMachine() const {
  if (!root_)
    return {};
  auto v = Kiv::Generic::get(*root_, "bcm53134Sm");
  auto const* h = std::any_cast<Orba::Ptr<Orba::Node>>(&v.raw());
  return h ? *h : Orba::Ptr<Orba::Node>();
}

void Session::afterHostChange() {
  // The interfaces the journal's entries name, from the agent's first
  // lines on (a register repaired before any link changed included).
  std::vector<JournalLink> links;
  for (auto const& m : db_->mgmtInterfaces())
    links.push_back({m.intfId, m.cpuInterface, m.externalPort, m.internalPort});
  journalLinksIs(std::move(links));
  if (cpuMode_ == CpuMode::privateNetns) {
    for (auto const& m : db_->mgmtInterfaces()) {
      if (!m.cpuInterface.empty())
        netns_->netdevAdd(m.cpuInterface);
    }
  }
  if (protodown_) {
    auto const kept = cpuNetdevs();
    for (auto const& [netdev, intf] : kept)
      protodown_->netdevAdd(netdev);
    keeper_->netdevsIs(kept);
  }
  if (cpuMode_ == CpuMode::simulated)
    ensureSimulatedCpuIfMgr();
  checkCpuNetdevs();
}

// Where the agent acts on this machine's own netdevices, a CPU netdevice
// that is not there cannot be put into protodown: the status says so until
// it appears (the kernel's link notifications tell, watchKernelProtodown).
void Session::checkCpuNetdevs() {
  if (cpuMode_ != CpuMode::hostNetns)
    return;
  std::set<std::string> missing;
  for (auto const& m : db_->mgmtInterfaces()) {
    if (!m.cpuInterface.empty() && ::if_nametoindex(m.cpuInterface.c_str()) == 0)
      missing.insert(m.cpuInterface);
  }
  if (missing != status_->last().missingNetdevs)
    status_->missingNetdevsIs(std::move(missing));
}

std::vector<std::string> Session::cpuNetdevWarnings() const {
  std::vector<std::string> r;
  for (auto const& m : db_->mgmtInterfaces()) {
    if (status_->last().missingNetdevs.contains(m.cpuInterface)) {
      r.push_back("warning: cpuInterface " + m.cpuInterface + " of " + m.intfId +
                  " names no netdevice of this machine: the agent cannot put it into "
                  "protodown until it exists");
    }
  }
  return r;
}

std::string Session::recordStart(std::string const& name, std::size_t limit, bool fromStart) {
  std::string path = name;
  char const* state = std::getenv("STATE_DIRECTORY");
  std::string stateDir = state ? std::string(state).substr(0, std::string(state).find(':')) : "";
  if (!path.empty() && path[0] != '/')
    path = stateDir.empty() ? std::filesystem::absolute(path).string() : stateDir + "/" + path;
  auto under = [&](char const* dir) { return path.rfind(dir, 0) == 0; };
  if (!stateDir.empty() && !under((stateDir + "/").c_str()) &&
      (under("/tmp/") || under("/var/tmp/")))
    throw InputError("record " + path +
                     ": the service's /tmp and /var/tmp are its own and are removed when it "
                     "stops; name a file in " +
                     stateDir + " (a relative name lands there)");
  std::vector<RunFile> files = files_;
  if (!appliance_.file.empty())
    files.push_back({"the appliance file", appliance_.file});
  if (auto const* f = runFileAt(files, path))
    throw InputError("record " + path + " is " + f->what +
                     " of this run; a record never replaces another input or output");
  try {
    Host::recordStart(*db_, appliance_, path, limit, fromStart);
  } catch (std::runtime_error const& e) {
    // A name that is taken is the user's to change: no restart mends it.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0)
      throw InputError(e.what());
    throw;
  }
  return path;
}

void Session::reportIs(Say say, Say complain) {
  say_ = std::move(say);
  complain_ = std::move(complain);
}

void Session::reloadListenerIs(ReloadListener* l) {
  reloadListeners_.push_back(l);
}

void Session::reloadListenerDel(ReloadListener* l) {
  std::erase(reloadListeners_, l);
}

ReloadOutcome Session::reload(std::string const& trigger) {
  for (auto* l : std::vector<ReloadListener*>(reloadListeners_))
    l->reloadBegins();
  std::vector<std::string> made;
  ReloadOutcome outcome;
  try {
    outcome = reloadFile(made);
  } catch (std::exception const& e) {
    outcome = {ReloadOutcome::Result::failed, {e.what()}};
  }
  if (outcome.result == ReloadOutcome::Result::failed) {
    for (auto it = made.rbegin(); it != made.rend(); ++it)
      netns_->netdevDel(*it);
    outcome.lines.back() = "reload failed: " + outcome.lines.back() +
                           "; what it changed is undone, the running configuration stays in force";
  }
  outcome.lines.insert(outcome.lines.begin(), applianceFile_.empty()
                                                  ? trigger + ": reload asked for"
                                                  : trigger + ": reloading " + applianceFile_);
  // The plan's lines and a good outcome are news; the rest is why not.
  for (auto const& l : outcome.lines) {
    bool news = outcome.ok() || l.rfind("reload: ", 0) == 0 || &l == &outcome.lines.front();
    (news ? say_ : complain_)(l);
  }
  for (auto* l : std::vector<ReloadListener*>(reloadListeners_))
    l->reloadEnded(outcome);
  return outcome;
}

// The reload after the line saying who asked. The CPU netdevices it makes go
// to `made`, for the caller to remove when it fails. Throws what makes it
// fail.
ReloadOutcome Session::reloadFile(std::vector<std::string>& made) {
  using Result = ReloadOutcome::Result;
  if (applianceFile_.empty())
    return {Result::refused,
            {"reload refused: this run's appliance comes from no file of its own (a scenario's)"}};
  ApplianceDesc next;
  try {
    next = loadAppliance(applianceFile_);
  } catch (InputError const& e) {
    return {Result::refused,
            {e.what(), "reload refused; the running configuration stays in force"}};
  }
  if (next.mdio == MdioTransport::miiIoctl) {
    if (auto why = kernelSwitchRefusal(next.mdioNetdev); !why.empty())
      return {Result::refused,
              {next.file + ": " + why, "reload refused; the running configuration stays in force"}};
  }
  auto live = liveConfigOf(*db_);
  if (auto sm = stateMachine())
    live.pollPeriod = Kiv::Generic::get(*sm, "pollPeriod").as<double>();
  auto plan = planReload(live, appliance_, next);
  if (plan.refused())
    return {Result::refused, {"reload refused: " + plan.refusal()}};
  ReloadOutcome outcome{Result::applied, {}};
  for (auto const& c : plan.changes)
    outcome.lines.push_back("reload: " + c.text);
  if (cpuMode_ == CpuMode::privateNetns) {
    for (auto const& dev : plan.newCpuNetdevs(live)) {
      auto const& have = netns_->netdevs();
      if (std::find(have.begin(), have.end(), dev) != have.end())
        continue;
      try {
        netns_->netdevAdd(dev);
      } catch (std::runtime_error const& e) {
        outcome.result = Result::failed;
        outcome.lines.push_back("CPU netdevice " + dev + " cannot be made: " + e.what());
        return outcome;
      }
      made.push_back(dev);
    }
  }
  // A record describes one appliance in its first line, and a replay runs
  // that one: it ends where the configuration changes.
  auto& recorder = db_->recorder();
  if (!plan.changes.empty() && recorder.recording()) {
    recorder.recordingEnd("reload");
    outcome.lines.push_back("reload: " + recordSummary(recorder) +
                            "; it ends here, at the reload, since a record replays the "
                            "appliance it began with (agentctl record start a new one for "
                            "the new configuration)");
  }
  try {
    applyPlan(*db_, plan, [this](double p) { pollPeriodIs(p); });
  } catch (ReloadFailed const& e) {
    outcome.result = Result::failed;
    outcome.lines.push_back(e.what());
    return outcome;
  }
  appliance_ = std::move(next);
  afterHostChange();
  outputsFollow();
  auto n = plan.changes.size();
  if (n == 0)
    outcome.result = Result::unchanged;
  outcome.lines.push_back(n == 0 ? "reload: nothing changed"
                                 : "reload: " + std::to_string(n) + " change" +
                                       (n == 1 ? "" : "s") + " applied");
  return outcome;
}

std::set<unsigned> Session::portsInUse() const {
  std::set<unsigned> r;
  for (auto const& m : db_->mgmtInterfaces())
    r.insert(m.externalPort);
  return r;
}

// The outputs that keep their own copy of the status follow a rename, move
// or removal in the same cycle.
void Session::outputsFollow() {
  status_->portsIs(portsInUse());
  // The metrics' labels follow the configuration even when the status
  // itself did not change.
  if (metrics_)
    metrics_->statusIs(status_->last(), status_->history());
}

// The kernel's view of the CPU netdevices, for the protodown keeper, the
// metrics and the status's missing netdevices; only where the agent acts on
// real netdevices.
void Session::watchKernelProtodown() {
  if (cpuMode_ == CpuMode::simulated)
    return;
  auto const kept = cpuNetdevs();
  std::set<std::string> names;
  for (auto const& [netdev, intf] : kept)
    names.insert(netdev);
  auto say = [this](std::string const& t) { timeline_.line("host", t); };
  try {
    protodown_ = std::make_unique<ProtodownWatch>(
        names,
        [this](std::string const& dev, KernelLink const* link) {
          if (metrics_)
            metrics_->kernelProtodownIs(dev,
                                        link ? std::optional<bool>(link->protodown) : std::nullopt);
          if (keeper_)
            keeper_->kernelIs(dev, link);
          checkCpuNetdevs();
        },
        say);
  } catch (std::runtime_error const& e) {
    timeline_.line(
        "host", std::string("no kernel link notifications, so no protodown keeper: ") + e.what());
    return;
  }
  keeper_ = std::make_unique<ProtodownKeeper>([this] { protodown_->refresh(); }, say,
                                              [this] { status_->protodownIs(keeper_->keeping()); });
  protodown_->syncedIs([this] { keeper_->kernelSynced(); });
  keeper_->netdevsIs(kept);
}

std::map<std::string, std::string> Session::cpuNetdevs() const {
  std::map<std::string, std::string> r;
  for (auto const& m : db_->mgmtInterfaces()) {
    if (!m.cpuInterface.empty())
      r.emplace(m.cpuInterface, m.intfId);
  }
  return r;
}

void Session::ensureSimulatedCpuIfMgr() {
  auto sm = stateMachine();
  if (!sm)
    return;
  auto current = Kiv::Generic::get(*sm, "cpuIfMgr");
  auto const* h = std::any_cast<Orba::Ptr<Orba::Node>>(&current.raw());
  if (h && *h && (*h)->typeData() && (*h)->typeData()->name == kTestCpuIfMgrType)
    return;
  if (!h || !*h)
    return;  // nothing installed yet: the agent has not initialised
  auto mgr = Kiv::Generic::construct(kTestCpuIfMgrType, {});
  Kiv::Generic::set(*sm, "cpuIfMgr", mgr);
  timeline_.line("host", std::string("installed ") + kTestCpuIfMgrType +
                             " in place of the agent's " + (*h)->typeData()->name);
}

}  // namespace Host
