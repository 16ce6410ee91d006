#include "soak/Soak.h"

#include <array>
#include <cinttypes>
#include <cstdio>
#include <deque>
#include <functional>
#include <set>
#include <sstream>

#include "tests/agent/SimAppliance.h"

namespace Soak {

namespace {

using Chip = Hardware::Mdio::Sim::Bcm53134Chip;
using Hardware::Bcm53134::LinkStatus;
using Hardware::Bcm53134::PortId;
using Interface::IntfEnabledState;
using State = Bcm53134::Agent::Bcm53134Sm::State;

// The appliance: four management interfaces, external ports 0 to 3 and
// internal ports 4 to 7. Management1 and Management2 have CPU netdevices and
// their interface configurations in slice "1"; Management3 and Management4
// have none and theirs are in slice "2". Every interface owns its ports, so
// each register has one interface that decides its configured value.
struct IntfSpec {
  PortId key;
  char const* id;
  char const* cpu;
  PortId ext;
  PortId in;
  unsigned slice;
};
constexpr std::array<IntfSpec, 4> kIntfs{{
    {0, "Management1", "mgmt1", 0, 4, 0},
    {1, "Management2", "mgmt2", 1, 5, 0},
    {2, "Management3", "", 2, 6, 1},
    {3, "Management4", "", 3, 7, 1},
}};
constexpr std::array<char const*, 2> kSlices{"1", "2"};
constexpr unsigned kPorts = 8;

constexpr std::uint16_t kTxEnable = 0x1000;
constexpr std::uint16_t kTxDisable = 0x3000;
constexpr std::uint16_t kAuxExpected = 0x430;

// A cycle that has not begun or ended after this much virtual time has
// stalled. The longest the soak keeps the hardware away is 10 s.
constexpr Kiv::Seconds kStallLimit = 60;
// Fault-free cycles at the start, before the object count is measured.
constexpr unsigned kWarmUpCycles = 3;
// Nodes allowed above the count of the fully populated, settled appliance:
// every population of agent objects (records, reactors, port statuses, CPU
// interfaces) is bounded by the four interfaces, eight ports and two slices,
// and the baseline already holds each at its largest. The slack covers
// objects between owners for a moment (a replaced ham still held by the
// register service, a replaced slice directory). A leak per cycle or per
// fault passes it within minutes.
constexpr std::int64_t kLiveSlack = 16;
// Consecutive fault-free cycles asked of the agent once the faults stop.
constexpr unsigned kSettleCycles = 5;
constexpr unsigned kSettleLimit = 60;

enum class Fault {
  linkChange,
  latchFlap,
  registerTamper,
  mdioErrors,
  invalidRead,
  miiReadFail,
  adminState,
  intfConfigChurn,
  sliceChurn,
  hamLoss,
  mgmtChurn,
  configChange,
};
struct FaultKind {
  Fault fault;
  char const* name;
  unsigned weight;
};
constexpr std::array<FaultKind, 12> kFaults{{
    {Fault::linkChange, "link dropped or restored", 5},
    {Fault::latchFlap, "flap only the latch sees", 3},
    {Fault::registerTamper, "control register changed behind the agent's back", 3},
    {Fault::mdioErrors, "MDIO error results", 2},
    {Fault::invalidRead, "invalid read value", 2},
    {Fault::miiReadFail, "failing MII reads", 2},
    {Fault::adminState, "administrative state change", 3},
    {Fault::intfConfigChurn, "interface config added or removed", 2},
    {Fault::sliceChurn, "slice added or removed", 1},
    {Fault::hamLoss, "ham lost and restored", 1},
    {Fault::mgmtChurn, "management interface added or removed", 2},
    {Fault::configChange, "configuration change with a transaction outstanding", 2},
}};

// Chance that faults are injected between two cycles, and in the middle of
// one.
constexpr double kIdleFaultChance = 0.25;
constexpr double kMidCycleFaultChance = 0.15;

// splitmix64: the same sequence for a seed on every machine and library.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : s_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (s_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }
  bool chance(double p) { return static_cast<double>(next() >> 11) * 0x1.0p-53 < p; }
  double between(double lo, double hi) {
    return lo + (hi - lo) * static_cast<double>(next() >> 11) * 0x1.0p-53;
  }

 private:
  std::uint64_t s_;
};

// A wake-up of the soak's own on the agent's event loop: ends a fault that
// lasts (failing MII reads, a lost ham) at its virtual time.
class SoakTimer : public Kiv::Timer {
 public:
  explicit SoakTimer(std::function<void()> fn) : fn_(std::move(fn)) {}

 protected:
  void onTimer() override { fn_(); }

 private:
  std::function<void()> fn_;
};

std::string hex(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

char const* linkName(bool up) {
  return up ? "up" : "down";
}

// One managed register on the chip: a port and its MII register number.
struct Reg {
  PortId port;
  std::uint8_t reg;
  auto operator<=>(Reg const&) const = default;
};
std::string regName(Reg r) {
  return std::string(r.reg == Chip::kExtCtrl ? "extended" : "auxiliary") + " control of port " +
         std::to_string(r.port);
}

class Run {
 public:
  Run(Options const& options, CpuSide& cpu) : opt_(options), cpu_(cpu), rng_(options.seed) {}
  Summary run();

 private:
  // What a cycle is judged against: the counters and states as it began.
  struct Snapshot {
    std::array<std::array<unsigned, 2>, kPorts> reads{};
    std::array<unsigned, kPorts> extWrites{};
    unsigned registerAccesses = 0;
    unsigned registerWrites = 0;
    unsigned failuresPending = 0;
    std::size_t readValuesPending = 0;
    bool miiFailing = false;
    bool outstanding = false;  // a transaction of an abandoned cycle still in flight
    std::map<std::string, std::optional<bool>> disabledDown;
  };

  void build();
  void tearDown();
  void cycle(bool faults);
  bool runUntil(std::function<bool()> const& pred);
  void afterEvent();
  void injectSome(bool midCycle);
  bool inject(Fault f, bool midCycle);
  void note(std::string text);
  Snapshot snapshot();
  bool latentFaultFired(Snapshot const& before) const;
  void check(Snapshot const& before);
  [[noreturn]] void violation(std::string const& invariant, std::string const& detail);
  void count(char const* invariant) { ++sum_.checks[invariant]; }

  Bcm53134::Agent::Bcm53134Sm& sm() const { return app_->sm(); }
  bool idle() const { return sm().state() == State::idle; }
  bool outstanding() const {
    auto const& rs = sm().registerSm();
    return rs && (rs->busy() || sm().registerConfig()->requestCount() > 0);
  }
  bool configured(IntfSpec const& i) const {
    return static_cast<bool>(app_->config->mgmtInterface(i.key));
  }
  bool slicePresent(unsigned s) const {
    return app_->sliceDir->entityPtr(kSlices[s]) == Orba::Ptr<Orba::Node>(dirs_[s]);
  }
  static std::size_t regIndex(std::uint8_t reg) { return reg == Chip::kExtCtrl ? 0 : 1; }

  Options opt_;
  CpuSide& cpu_;
  Rng rng_;
  std::unique_ptr<TestSupport::SimAppliance> app_;
  Orba::Ptr<Fru::Ham> ham_;  // the ham the config holds when present
  std::array<Orba::Ptr<Interface::EthPhyIntfConfigDir>, kSlices.size()> dirs_;
  std::array<Orba::Ptr<Interface::EthPhyIntfConfig>, kIntfs.size()> configs_;
  std::array<bool, kPorts> miiFailing_{};
  std::array<std::unique_ptr<SoakTimer>, kPorts> miiRestore_;
  std::unique_ptr<SoakTimer> hamRestore_;
  // Registers whose content the agent may not know: changed behind its back
  // or read through an injected value, and not read since in a cycle
  // without faults. All of them are unknown at power-on.
  std::set<Reg> tainted_;
  bool configChangePending_ = false;
  bool faulted_ = false;             // a fault was injected since the last cycle ended
  bool prevClean_ = false;           // the cycle before passed as one without faults
  bool prevWrote_ = false;           // and wrote registers
  bool prevEndedByFailure_ = false;  // the cycle before ended on a failed transaction
  std::string lastError_;            // the error text after the last event
  bool errorChanged_ = false;        // the last event published another error text
  std::size_t maxInFlight_ = 0;      // transactions in flight at once in this cycle
  // The enabled states the agent must hold, kept by the rules of the
  // interface reactors: a slice's reactor writes the states of its
  // configurations when it is made and on every change, and removes the
  // state of a configuration removed from it; a removed slice has no reactor,
  // so changes inside it go unseen and its states stay.
  std::map<std::string, IntfEnabledState> mirror_;
  std::uint32_t lastXid_ = 0;
  std::int64_t liveBound_ = 0;
  unsigned protodownChecks_ = 0;
  std::deque<std::string> recent_;  // the latest faults, for a violation report
  Summary sum_;
};

// Set-up and teardown

void Run::build() {
  app_ = std::make_unique<TestSupport::SimAppliance>();
  ham_ = app_->ham;
  // A link partner sees the link drop while a port's transmitter is off.
  app_->chip->txDisableCouplingIs(true);
  dirs_[0] = app_->slice;
  dirs_[1] = Interface::EthPhyIntfConfigDir::EthPhyIntfConfigDirIs(kSlices[1]);
  app_->sliceDir->entityIs(kSlices[1], dirs_[1]);
  for (std::size_t n = 0; n < kIntfs.size(); ++n) {
    auto const& i = kIntfs[n];
    app_->config->mgmtInterfaceIs(i.key, Hardware::Bcm53134::MgmtInterface::MgmtInterfaceIs(
                                             Lanx::IntfId(i.id), i.cpu, i.ext, i.in));
    configs_[n] = Interface::EthPhyIntfConfig::EthPhyIntfConfigIs(Lanx::IntfId(i.id),
                                                                  IntfEnabledState::enabled);
    dirs_[i.slice]->intfConfigIs(configs_[n]);
    mirror_[i.id] = IntfEnabledState::enabled;
    app_->chip->linkIs(i.ext, true);
  }
  for (PortId p = 0; p < kPorts; ++p) {
    tainted_.insert({p, Chip::kExtCtrl});
    tainted_.insert({p, Chip::kAuxCtrl});
    miiRestore_[p] = std::make_unique<SoakTimer>([this, p] {
      app_->chip->miiReadFailIs(p, false);
      miiFailing_[p] = false;
      faulted_ = true;
      note("MII reads of port " + std::to_string(p) + " work again");
    });
  }
  hamRestore_ = std::make_unique<SoakTimer>([this] {
    if (rng_.chance(0.5))
      ham_ = Fru::Ham::HamIs(app_->chip);
    app_->config->hamIs(ham_);
    faulted_ = true;
    note("ham restored");
  });
  // The first poll runs inside the machine's constructor; its first link
  // pass comes only after the registers have been read, in virtual time.
  app_->start();
  cpu_.attach(*app_);
}

void Run::tearDown() {
  for (auto& t : miiRestore_)
    t.reset();
  hamRestore_.reset();
  for (auto& c : configs_)
    c = nullptr;
  for (auto& d : dirs_)
    d = nullptr;
  ham_ = nullptr;
  cpu_.detach();
  app_.reset();
}

// The loop

// Runs the agent's event loop until pred holds, checking after every event
// what must hold after every event. False when the stall limit passed.
bool Run::runUntil(std::function<bool()> const& pred) {
  return TestSupport::runUntil(
      [&] {
        afterEvent();
        return pred();
      },
      kStallLimit);
}

void Run::afterEvent() {
  // The xid only grows: every transaction takes the next one, and 2^32 of
  // them are centuries of polling away.
  auto const xid = sm().xid();
  if (xid < lastXid_)
    violation("the xid only grows",
              "xid " + std::to_string(xid) + " after " + std::to_string(lastXid_));
  lastXid_ = xid;
  auto const& error = app_->status->error();
  errorChanged_ = error != lastError_;
  if (errorChanged_)
    lastError_ = error;
  if (auto const& rc = sm().registerConfig())
    maxInFlight_ = std::max(maxInFlight_, rc->requestCount());
}

void Run::cycle(bool faults) {
  if (faults && rng_.chance(kIdleFaultChance))
    injectSome(false);
  auto const before = snapshot();

  if (!runUntil([this] { return !idle(); }))
    violation("the poll cycle never stalls",
              "no poll cycle began within " + std::to_string(kStallLimit) + " s");
  if (configChangePending_) {
    runUntil([this] { return outstanding() || idle(); });
    if (outstanding() && app_->config->ham()) {
      configChangePending_ = false;
      ham_ = Fru::Ham::HamIs(app_->chip);
      app_->config->hamIs(ham_);
      ++sum_.faults[kFaults[static_cast<std::size_t>(Fault::configChange)].name];
      faulted_ = true;
      note("configuration changed (new ham) with a transaction outstanding");
    }
  }
  if (faults && rng_.chance(kMidCycleFaultChance)) {
    unsigned events = 1 + rng_.below(12);
    runUntil([&] { return --events == 0 || idle(); });
    if (!idle())
      injectSome(true);
  }
  if (!runUntil([this] { return idle(); }))
    violation("the poll cycle never stalls",
              "a poll cycle did not end within " + std::to_string(kStallLimit) + " s");
  ++sum_.cycles;

  // A cycle is judged only when nothing disturbed it: no fault injected
  // since the previous cycle ended, none injected earlier that struck in
  // it, and no transaction of an abandoned cycle still in flight as it
  // began. An injected read value that the agent took leaves it with a value
  // the chip does not hold; that register stays tainted (it was marked when
  // the value was injected) until a clean cycle reads it again.
  bool const clean = !faulted_ && !before.outstanding && !latentFaultFired(before);
  faulted_ = false;
  if (clean) {
    ++sum_.checkedCycles;
    check(before);
  }
  prevClean_ = clean;
  prevWrote_ = app_->chip->registerWrites() > before.registerWrites;
  prevEndedByFailure_ = errorChanged_ && !app_->status->error().empty();
}

// Faults

void Run::note(std::string text) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "t=%.3f cycle %u: ", TestSupport::now(), sum_.cycles);
  text = buf + text;
  if (opt_.verbose)
    std::printf("%s\n", text.c_str());
  recent_.push_back(std::move(text));
  if (recent_.size() > 24)
    recent_.pop_front();
}

void Run::injectSome(bool midCycle) {
  unsigned n = 1 + (rng_.chance(0.2) ? rng_.below(3) : 0);
  unsigned total = 0;
  for (auto const& k : kFaults)
    total += k.weight;
  for (unsigned tries = 0; n > 0 && tries < 20; ++tries) {
    unsigned pick = rng_.below(total);
    auto const* kind = &kFaults[0];
    for (auto const& k : kFaults) {
      if (pick < k.weight) {
        kind = &k;
        break;
      }
      pick -= k.weight;
    }
    if (!inject(kind->fault, midCycle))
      continue;  // not applicable now; pick another
    --n;
    if (kind->fault == Fault::configChange)
      continue;  // counted when made
    ++sum_.faults[kind->name];
    faulted_ = true;
  }
}

// Carries out one fault; false when it does not apply in the present state.
bool Run::inject(Fault f, bool midCycle) {
  auto& chip = *app_->chip;
  auto& config = *app_->config;
  std::size_t const n = rng_.below(kIntfs.size());
  auto const& intf = kIntfs[n];
  auto const where = std::string(midCycle ? " (mid-cycle)" : "");
  switch (f) {
    case Fault::linkChange: {
      bool const up = !chip.linkOffered(intf.ext);
      chip.linkIs(intf.ext, up);
      note(std::string("link ") + linkName(up) + " on port " + std::to_string(intf.ext) + where);
      return true;
    }
    case Fault::latchFlap:
      if (!chip.link(intf.ext))
        return false;
      chip.linkFlap(intf.ext);
      note("latch-only flap on port " + std::to_string(intf.ext) + where);
      return true;
    case Fault::registerTamper: {
      // Extended control is only ever changed to a plausible value. An
      // implausible one stored in the chip is refused at every read, so the
      // agent would (rightly) fail every cycle until someone repaired it:
      // that is a broken chip, not a fault that stops.
      Reg const r{static_cast<PortId>(rng_.below(kPorts)),
                  rng_.chance(0.5) ? Chip::kExtCtrl : Chip::kAuxCtrl};
      static constexpr std::array<std::uint16_t, 4> kPlausible{0, 0x1000, 0x2000, 0x3000};
      std::uint16_t const v = r.reg == Chip::kExtCtrl ? kPlausible[rng_.below(4)]
                              : rng_.chance(0.3)      ? 0
                                                      : static_cast<std::uint16_t>(rng_.next());
      chip.regIs(r.port, r.reg, v);
      tainted_.insert(r);
      note(regName(r) + " set to " + hex(v) + " behind the agent's back" + where);
      return true;
    }
    case Fault::mdioErrors: {
      if (chip.failuresPending() > 0)
        return false;
      unsigned const count = 1 + rng_.below(3);
      chip.failNextAccesses(count, "MDIO bus timeout");
      note("the next " + std::to_string(count) + " register accesses fail" + where);
      return true;
    }
    case Fault::invalidRead: {
      Reg const r{static_cast<PortId>(rng_.below(kPorts)),
                  rng_.chance(0.5) ? Chip::kExtCtrl : Chip::kAuxCtrl};
      // For extended control, mostly a value the validity rule refuses; else
      // a plausible one that the chip does not hold.
      std::uint16_t v = static_cast<std::uint16_t>(rng_.next());
      if (r.reg == Chip::kExtCtrl && rng_.chance(0.3))
        v &= 0x3000;
      else if (r.reg == Chip::kExtCtrl)
        v |= 0x0001;
      chip.readValueIs(r.port, r.reg, v);
      tainted_.insert(r);
      note("the next read of " + regName(r) + " returns " + hex(v) + where);
      return true;
    }
    case Fault::miiReadFail: {
      if (miiFailing_[intf.ext])
        return false;
      chip.miiReadFailIs(intf.ext, true);
      miiFailing_[intf.ext] = true;
      Kiv::Seconds const d = rng_.between(0.5, 9);
      miiRestore_[intf.ext]->arm(TestSupport::now() + d);
      note("MII reads of port " + std::to_string(intf.ext) + " fail for " + std::to_string(d) +
           " s" + where);
      return true;
    }
    case Fault::adminState: {
      auto& cfg = *configs_[n];
      static constexpr std::array<IntfEnabledState, 3> kStates{
          IntfEnabledState::enabled, IntfEnabledState::disabled,
          IntfEnabledState::unknownEnabledState};
      auto s = kStates[rng_.below(3)];
      if (s == cfg.enabledState())
        s = cfg.enabledState() == IntfEnabledState::disabled ? IntfEnabledState::enabled
                                                             : IntfEnabledState::disabled;
      cfg.enabledStateIs(s);
      if (slicePresent(intf.slice) &&
          dirs_[intf.slice]->intfConfig(Lanx::IntfId(intf.id)) == configs_[n])
        mirror_[intf.id] = s;
      note(std::string(intf.id) + " administratively " + Interface::stringValue(s) + where);
      return true;
    }
    case Fault::intfConfigChurn: {
      auto& dir = *dirs_[intf.slice];
      Lanx::IntfId const id(intf.id);
      if (dir.intfConfig(id)) {
        dir.intfConfigDel(id);
        if (slicePresent(intf.slice))
          mirror_.erase(intf.id);
        note(std::string("interface config of ") + intf.id + " removed" + where);
      } else {
        auto const s = rng_.chance(0.7) ? IntfEnabledState::enabled : IntfEnabledState::disabled;
        configs_[n] = Interface::EthPhyIntfConfig::EthPhyIntfConfigIs(id, s);
        dir.intfConfigIs(configs_[n]);
        if (slicePresent(intf.slice))
          mirror_[intf.id] = s;
        note(std::string("interface config of ") + intf.id + " added, " +
             Interface::stringValue(s) + where);
      }
      return true;
    }
    case Fault::sliceChurn: {
      unsigned const s = rng_.below(kSlices.size());
      if (slicePresent(s)) {
        app_->sliceDir->entityDel(kSlices[s]);
        note(std::string("slice ") + kSlices[s] + " removed" + where);
      } else {
        if (rng_.chance(0.5)) {
          // A new directory object holding the same configurations.
          auto fresh = Interface::EthPhyIntfConfigDir::EthPhyIntfConfigDirIs(kSlices[s]);
          for (auto const& [id, c] : dirs_[s]->intfConfigs())
            fresh->intfConfigIs(c);
          dirs_[s] = fresh;
        }
        app_->sliceDir->entityIs(kSlices[s], dirs_[s]);
        for (auto const& [id, c] : dirs_[s]->intfConfigs())
          mirror_[id.name()] = c->enabledState();
        note(std::string("slice ") + kSlices[s] + " added" + where);
      }
      return true;
    }
    case Fault::hamLoss: {
      if (!config.ham())
        return false;
      config.hamIs(nullptr);
      Kiv::Seconds const d = rng_.between(0.5, 10);
      hamRestore_->arm(TestSupport::now() + d);
      note("ham lost for " + std::to_string(d) + " s" + where);
      return true;
    }
    case Fault::mgmtChurn:
      if (configured(intf)) {
        config.mgmtInterfaceDel(intf.key);
        note(std::string("management interface ") + intf.id + " removed" + where);
      } else {
        config.mgmtInterfaceIs(intf.key, Hardware::Bcm53134::MgmtInterface::MgmtInterfaceIs(
                                             Lanx::IntfId(intf.id), intf.cpu, intf.ext, intf.in));
        note(std::string("management interface ") + intf.id + " added" + where);
      }
      return true;
    case Fault::configChange:
      // Made when a cycle next has a register transaction in flight (most
      // cycles have none): see cycle().
      if (configChangePending_)
        return false;
      configChangePending_ = true;
      return true;
  }
  return false;
}

// Invariants

Run::Snapshot Run::snapshot() {
  Snapshot s;
  auto const& chip = *app_->chip;
  for (PortId p = 0; p < kPorts; ++p) {
    s.reads[p][0] = chip.reads(p, Chip::kExtCtrl);
    s.reads[p][1] = chip.reads(p, Chip::kAuxCtrl);
    s.extWrites[p] = chip.writes(p, Chip::kExtCtrl);
    s.miiFailing = s.miiFailing || miiFailing_[p];
  }
  s.registerAccesses = chip.registerAccesses();
  s.registerWrites = chip.registerWrites();
  s.outstanding =
      outstanding() || (sm().registerStatus() && sm().registerStatus()->resultCount() > 0);
  s.failuresPending = chip.failuresPending();
  maxInFlight_ = 0;
  s.readValuesPending = chip.readValuesPending();
  for (auto const& i : kIntfs) {
    if (*i.cpu && configured(i) &&
        sm().intfState(Lanx::IntfId(i.id)) == IntfEnabledState::disabled) {
      s.disabledDown[i.cpu] = cpu_.down(i.cpu);
    }
  }
  return s;
}

// Faults injected earlier that struck in this cycle: pending MDIO errors or
// injected read values taken by its accesses, MII reads failing during it.
bool Run::latentFaultFired(Snapshot const& before) const {
  auto const& chip = *app_->chip;
  bool miiFailing = false;
  for (bool f : miiFailing_)
    miiFailing = miiFailing || f;
  return before.miiFailing || miiFailing || chip.failuresPending() < before.failuresPending ||
         chip.readValuesPending() < before.readValuesPending;
}

void Run::check(Snapshot const& before) {
  auto& machine = sm();
  auto const& chip = *app_->chip;
  auto const& status = *app_->status;

  // A register read in a cycle without faults was read from the chip as it
  // is, and the agent has known it since: whatever the agent writes later it
  // writes itself.
  for (auto it = tainted_.begin(); it != tainted_.end();) {
    if (chip.reads(it->port, it->reg) > before.reads[it->port][regIndex(it->reg)])
      it = tainted_.erase(it);
    else
      ++it;
  }

  // Registers are read from the chip exactly when they must be. After a
  // clean cycle that wrote, or a cycle that ended on a failed transaction,
  // this one re-reads every register (each write is verified by reading it
  // back once, and a failure leaves nothing trusted); after a clean cycle
  // that wrote nothing the agent knows every register and issues no
  // transaction at all. Link status reads are MII status reads, which are
  // not counted here.
  if (prevEndedByFailure_ || (prevClean_ && prevWrote_)) {
    for (auto const& i : kIntfs) {
      if (!configured(i))
        continue;
      for (Reg r : {Reg{i.ext, Chip::kExtCtrl}, Reg{i.ext, Chip::kAuxCtrl},
                    Reg{i.in, Chip::kExtCtrl}, Reg{i.in, Chip::kAuxCtrl}}) {
        count("every register re-read after a write or a failure");
        if (chip.reads(r.port, r.reg) == before.reads[r.port][regIndex(r.reg)])
          violation("every register re-read after a write or a failure",
                    std::string(i.id) + ": " + regName(r) + " not read");
      }
    }
  } else if (prevClean_) {
    count("a steady cycle issues no register transaction");
    if (chip.registerAccesses() != before.registerAccesses)
      violation("a steady cycle issues no register transaction",
                std::to_string(chip.registerAccesses() - before.registerAccesses) +
                    " register accesses after a cycle that wrote nothing");
  }

  // One transaction at a time: a step issues one and the cycle waits for its
  // result before the next step.
  count("one transaction at a time");
  if (maxInFlight_ > 1)
    violation("one transaction at a time",
              std::to_string(maxInFlight_) + " register transactions in flight at once");

  // No transaction is outstanding in idle: the cycle ends only after the
  // result of its last transaction was handled, and the register service
  // works its queue in order, so answers to transactions of an abandoned
  // cycle came before it.
  count("no transaction outstanding in idle");
  if (!idle() || machine.registerSm()->busy() || machine.registerConfig()->requestCount() != 0 ||
      machine.registerStatus()->resultCount() != 0) {
    violation("no transaction outstanding in idle",
              std::string("state ") + Bcm53134::Agent::Bcm53134Sm::stringValue(machine.state()) +
                  ", service busy " + std::to_string(machine.registerSm()->busy()) +
                  ", requests queued " + std::to_string(machine.registerConfig()->requestCount()) +
                  ", results queued " + std::to_string(machine.registerStatus()->resultCount()));
  }

  // The error text is empty: every pass that finds all registers known
  // clears it before link processing, re-reading or not, and a cycle without
  // faults has no failing transaction after that. Without any management
  // interface the pass stops before that point and leaves the text alone.
  if (app_->config->mgmtInterfaceCount() > 0) {
    count("error text empty after a clean cycle");
    if (!status.error().empty())
      violation("error text empty after a clean cycle", "error text '" + status.error() + "'");
  }

  for (auto const& i : kIntfs) {
    if (!configured(i))
      continue;
    Lanx::IntfId const id(i.id);
    auto const s = machine.intfState(id);
    auto const port = status.port(i.ext);
    if (!port)
      violation("published link status equals the chip's link",
                std::string(i.id) + ": no link status published for port " + std::to_string(i.ext));
    bool const published = port->linkStatus() != LinkStatus::linkDown;

    // The published link status equals the chip's link: the pass read it
    // from the chip with the latch re-read rule, so a flap only the latch saw
    // reads as link. The one exception is a cycle that wrote the external
    // port's extended control: with the transmitter-disable coupling of a
    // real link partner, that write can take the link down (or bring it
    // back) after it was read, and the next cycle, which re-reads after
    // every write, publishes the change.
    if (chip.writes(i.ext, Chip::kExtCtrl) == before.extWrites[i.ext]) {
      count("published link status equals the chip's link");
      if (published != chip.link(i.ext)) {
        violation("published link status equals the chip's link",
                  std::string(i.id) + ": published " + linkName(published) + ", chip port " +
                      std::to_string(i.ext) + " " + linkName(chip.link(i.ext)));
      }
    }

    // The extended control registers follow the decision table of link
    // processing (from the enabled state the agent mirrors, the published
    // link and whether a CPU netdevice exists) and the auxiliary ones hold
    // 0x430: the pass worked out every configured value afresh and the write
    // phase wrote every register whose known value differed. Registers
    // changed behind the agent's back stay as they are until a cycle re-reads
    // them, so only registers the agent knows are held to it.
    bool const disabled = s == IntfEnabledState::disabled;
    bool const hasCpu = *i.cpu != '\0';
    std::uint16_t const extWanted = disabled ? kTxDisable : kTxEnable;
    std::uint16_t const inWanted =
        (disabled && !hasCpu) || (!disabled && !published && !hasCpu) ? kTxDisable : kTxEnable;
    for (auto [r, wanted] : {std::pair{Reg{i.ext, Chip::kExtCtrl}, extWanted},
                             std::pair{Reg{i.in, Chip::kExtCtrl}, inWanted},
                             std::pair{Reg{i.ext, Chip::kAuxCtrl}, kAuxExpected},
                             std::pair{Reg{i.in, Chip::kAuxCtrl}, kAuxExpected}}) {
      if (tainted_.count(r))
        continue;
      count("control registers at their decided values");
      if (chip.reg(r.port, r.reg) != wanted) {
        violation("control registers at their decided values",
                  std::string(i.id) + ", enabled state " + Interface::stringValue(s) + ", link " +
                      linkName(published) + ": " + regName(r) + " is " +
                      hex(chip.reg(r.port, r.reg)) + ", wanted " + hex(wanted));
      }
    }

    if (!hasCpu)
      continue;
    auto const down = cpu_.down(i.cpu);
    if (disabled) {
      // An administratively disabled interface's netdevice is left alone:
      // link processing makes no CPU interface call for it.
      count("a disabled interface's netdevice is left alone");
      auto const was = before.disabledDown.find(i.cpu);
      if (was != before.disabledDown.end() && was->second != down)
        violation("a disabled interface's netdevice is left alone",
                  std::string(i.id) + ": " + i.cpu + " changed while disabled");
      continue;
    }
    // Protodown matches the link for enabled interfaces with a CPU
    // netdevice: the pass handed down the verdict of the link it published,
    // and the manager acts on every verdict that differs from the last.
    count("protodown matches the link");
    if (down != std::optional<bool>(!published)) {
      violation("protodown matches the link", std::string(i.id) + ": link " + linkName(published) +
                                                  ", " + i.cpu + " " +
                                                  (!down   ? "never acted on"
                                                   : *down ? "held down"
                                                           : "not held down"));
    }
    if (++protodownChecks_ % 97 == 0) {
      auto const other = cpu_.downCrossCheck(i.cpu);
      if (other && other != down)
        violation("protodown matches the link", std::string(i.cpu) +
                                                    ": rtnetlink and iproute2 disagree on "
                                                    "protodown");
    }
  }

  // The enabled states the agent acts on follow the interface reactors'
  // rules (see mirror_).
  count("enabled states follow the interface configurations");
  for (auto const& i : kIntfs) {
    Lanx::IntfId const id(i.id);
    auto const have = machine.intfStates().find(id);
    auto const want = mirror_.find(i.id);
    bool const haveOne = have != machine.intfStates().end();
    bool const wantOne = want != mirror_.end();
    if (haveOne != wantOne || (haveOne && have->second != want->second)) {
      violation("enabled states follow the interface configurations",
                std::string(i.id) + ": the agent has " +
                    (haveOne ? Interface::stringValue(have->second) : "no state") + ", expected " +
                    (wantOne ? Interface::stringValue(want->second) : "no state"));
    }
  }

  // The number of live objects stays bounded (see kLiveSlack).
  if (liveBound_ > 0) {
    count("live objects bounded");
    if (Orba::Node::liveCount() > liveBound_)
      violation("live objects bounded", std::to_string(Orba::Node::liveCount()) +
                                            " live nodes, bound " + std::to_string(liveBound_));
  }
}

void Run::violation(std::string const& invariant, std::string const& detail) {
  std::ostringstream os;
  os << "seed " << opt_.seed << ", virtual time " << TestSupport::now() << " s, cycle "
     << sum_.cycles << ": invariant violated: " << invariant << ": " << detail;
  if (!recent_.empty()) {
    os << "\nlatest faults:";
    for (auto const& r : recent_)
      os << "\n  " << r;
  }
  throw Violation(os.str());
}

Summary Run::run() {
  auto const endTime = opt_.hours * 3600.0;
  std::int64_t liveBefore = 0;
  {
    // Process-wide objects made on first use (the activity clock, type
    // registrations) are made by a first appliance, so that the count
    // before and after the soak's own appliance compares like with like.
    TestSupport::SimAppliance warm;
    warm.start();
  }
  liveBefore = Orba::Node::liveCount();

  try {
    build();
    // The first cycle began inside the machine's constructor.
    while (sum_.checkedCycles < kWarmUpCycles) {
      if (sum_.cycles == kWarmUpCycles + 1)
        violation("the agent settles without faults",
                  "no " + std::to_string(kWarmUpCycles) + " clean cycles at the start");
      cycle(false);
    }
    liveBound_ = Orba::Node::liveCount() + kLiveSlack;

    while (TestSupport::now() < endTime)
      cycle(true);

    // The faults stop: lasting ones end now, and the agent must settle into
    // cycles that pass every check.
    for (PortId p = 0; p < kPorts; ++p) {
      if (miiFailing_[p]) {
        miiRestore_[p]->disarm();
        app_->chip->miiReadFailIs(p, false);
        miiFailing_[p] = false;
      }
    }
    if (!app_->config->ham()) {
      hamRestore_->disarm();
      app_->config->hamIs(ham_);
    }
    faulted_ = true;
    unsigned clean = 0;
    for (unsigned n = 0; clean < kSettleCycles; ++n) {
      if (n == kSettleLimit)
        violation("the agent settles once the faults stop",
                  std::to_string(kSettleLimit) + " cycles without " +
                      std::to_string(kSettleCycles) + " clean ones in a row");
      auto const checked = sum_.checkedCycles;
      cycle(false);
      clean = sum_.checkedCycles > checked ? clean + 1 : 0;
    }
  } catch (Violation const&) {
    throw;
  } catch (std::exception const& e) {
    violation("the agent never throws", e.what());
  }
  sum_.virtualSeconds = TestSupport::now();
  sum_.transactions = sm().xid();
  sum_.registerAccesses = app_->chip->registerAccesses();
  sum_.miiStatusReads = app_->chip->miiStatusReadsTotal();

  // Nothing leaks: with the appliance gone, every node made for it is gone.
  tearDown();
  auto const liveAfter = Orba::Node::liveCount();
  ++sum_.checks["every node released at teardown"];
  if (liveAfter != liveBefore)
    violation("every node released at teardown",
              std::to_string(liveAfter - liveBefore) + " nodes outlive the appliance");
  return sum_;
}

}  // namespace

// CPU sides

KernelCpuSide::KernelCpuSide() {
  ns_.ip("link add v0 type veth peer name v1");
  ns_.ip("link add link v0 name mgmt1 type macvlan mode bridge");
  ns_.ip("link add link v0 name mgmt2 type macvlan mode bridge");
  for (char const* dev : {"v0", "v1", "mgmt1", "mgmt2"})
    ns_.ip(std::string("link set ") + dev + " up");
  probe_ = std::make_unique<ProtodownProbe>();
}

std::string KernelCpuSide::description() const {
  return "macvlans mgmt1 and mgmt2 in private network namespace " + ns_.name() +
         ", driven by the agent's netlink manager";
}

void KernelCpuSide::attach(TestSupport::SimAppliance&) {}

std::optional<bool> KernelCpuSide::down(std::string const& name) {
  return probe_->protodown(name);
}

std::optional<bool> KernelCpuSide::downCrossCheck(std::string const& name) {
  return ns_.protodown(name);
}

std::string SimulatedCpuSide::description() const {
  return "simulated by the agent's TestCpuIfMgr (no network namespace)";
}

void SimulatedCpuSide::attach(TestSupport::SimAppliance& app) {
  mgr_ = app.useTestCpuIfMgr();
}

std::optional<bool> SimulatedCpuSide::down(std::string const& name) {
  using CpuState = Bcm53134::Agent::CpuInterface::State;
  auto intf = mgr_->cpuInterface(name);
  if (!intf || intf->state() == CpuState::unknown)
    return std::nullopt;
  return intf->state() == CpuState::disabled;
}

Summary run(Options const& options, CpuSide& cpu) {
  Run r(options, cpu);
  return r.run();
}

}  // namespace Soak
