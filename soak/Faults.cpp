#include "soak/Faults.h"

#include <functional>

#include "tests/support/Loop.h"

namespace Soak {

namespace {

using Interface::IntfEnabledState;

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

}  // namespace

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

Faults::Faults(Options const& options, Appliance& appliance, Report& report, Summary& sum)
    : a_(appliance), report_(report), sum_(sum), rng_(options.seed) {
  for (PortId p = 0; p < kPorts; ++p) {
    miiRestore_[p] = std::make_unique<SoakTimer>([this, p] {
      a_.app().chip->miiReadFailIs(p, false);
      a_.miiFailing[p] = false;
      faulted_ = true;
      note("MII reads of port " + std::to_string(p) + " work again");
    });
  }
  hamRestore_ = std::make_unique<SoakTimer>([this] {
    if (rng_.chance(0.5))
      a_.ham = Fru::Ham::HamIs(a_.app().chip);
    a_.app().config->hamIs(a_.ham);
    faulted_ = true;
    note("ham restored");
  });
}

Faults::~Faults() = default;

void Faults::tearDown() {
  for (auto& t : miiRestore_)
    t.reset();
  hamRestore_.reset();
}

void Faults::betweenCycles() {
  if (rng_.chance(kIdleFaultChance))
    injectSome(false);
}

unsigned Faults::midCycleEvents() {
  if (!rng_.chance(kMidCycleFaultChance))
    return 0;
  return 1 + rng_.below(12);
}

void Faults::configChangeIfOutstanding() {
  if (a_.outstanding() && a_.app().config->ham()) {
    configChangePending_ = false;
    a_.ham = Fru::Ham::HamIs(a_.app().chip);
    a_.app().config->hamIs(a_.ham);
    ++sum_.faults[kFaults[static_cast<std::size_t>(Fault::configChange)].name];
    faulted_ = true;
    note("configuration changed (new ham) with a transaction outstanding");
  }
}

void Faults::stop() {
  for (PortId p = 0; p < kPorts; ++p) {
    if (a_.miiFailing[p]) {
      miiRestore_[p]->disarm();
      a_.app().chip->miiReadFailIs(p, false);
      a_.miiFailing[p] = false;
    }
  }
  if (!a_.app().config->ham()) {
    hamRestore_->disarm();
    a_.app().config->hamIs(a_.ham);
  }
  faulted_ = true;
}

void Faults::injectSome(bool midCycle) {
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

bool Faults::inject(Fault f, bool midCycle) {
  auto& chip = *a_.app().chip;
  auto& config = *a_.app().config;
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
      a_.tainted.insert(r);
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
      a_.tainted.insert(r);
      note("the next read of " + regName(r) + " returns " + hex(v) + where);
      return true;
    }
    case Fault::miiReadFail: {
      if (a_.miiFailing[intf.ext])
        return false;
      chip.miiReadFailIs(intf.ext, true);
      a_.miiFailing[intf.ext] = true;
      Kiv::Seconds const d = rng_.between(0.5, 9);
      miiRestore_[intf.ext]->arm(TestSupport::now() + d);
      note("MII reads of port " + std::to_string(intf.ext) + " fail for " + std::to_string(d) +
           " s" + where);
      return true;
    }
    case Fault::adminState: {
      auto& cfg = *a_.configs[n];
      static constexpr std::array<IntfEnabledState, 3> kStates{
          IntfEnabledState::enabled, IntfEnabledState::disabled,
          IntfEnabledState::unknownEnabledState};
      auto s = kStates[rng_.below(3)];
      if (s == cfg.enabledState())
        s = cfg.enabledState() == IntfEnabledState::disabled ? IntfEnabledState::enabled
                                                             : IntfEnabledState::disabled;
      cfg.enabledStateIs(s);
      if (a_.slicePresent(intf.slice) &&
          a_.dirs[intf.slice]->intfConfig(Lanx::IntfId(intf.id)) == a_.configs[n])
        a_.mirror[intf.id] = s;
      note(std::string(intf.id) + " administratively " + Interface::stringValue(s) + where);
      return true;
    }
    case Fault::intfConfigChurn: {
      auto& dir = *a_.dirs[intf.slice];
      Lanx::IntfId const id(intf.id);
      if (dir.intfConfig(id)) {
        dir.intfConfigDel(id);
        if (a_.slicePresent(intf.slice))
          a_.mirror.erase(intf.id);
        note(std::string("interface config of ") + intf.id + " removed" + where);
      } else {
        auto const s = rng_.chance(0.7) ? IntfEnabledState::enabled : IntfEnabledState::disabled;
        a_.configs[n] = Interface::EthPhyIntfConfig::EthPhyIntfConfigIs(id, s);
        dir.intfConfigIs(a_.configs[n]);
        if (a_.slicePresent(intf.slice))
          a_.mirror[intf.id] = s;
        note(std::string("interface config of ") + intf.id + " added, " +
             Interface::stringValue(s) + where);
      }
      return true;
    }
    case Fault::sliceChurn: {
      unsigned const s = rng_.below(kSlices.size());
      if (a_.slicePresent(s)) {
        a_.app().sliceDir->entityDel(kSlices[s]);
        note(std::string("slice ") + kSlices[s] + " removed" + where);
      } else {
        if (rng_.chance(0.5)) {
          // A new directory object holding the same configurations.
          auto fresh = Interface::EthPhyIntfConfigDir::EthPhyIntfConfigDirIs(kSlices[s]);
          for (auto const& [id, c] : a_.dirs[s]->intfConfigs())
            fresh->intfConfigIs(c);
          a_.dirs[s] = fresh;
        }
        a_.app().sliceDir->entityIs(kSlices[s], a_.dirs[s]);
        for (auto const& [id, c] : a_.dirs[s]->intfConfigs())
          a_.mirror[id.name()] = c->enabledState();
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
      if (a_.configured(intf)) {
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

}  // namespace Soak
