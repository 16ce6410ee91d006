#include "soak/Invariants.h"

#include <algorithm>

#include "tests/support/Loop.h"

namespace Soak {

namespace {

using Hardware::Bcm53134::LinkStatus;
using Interface::IntfEnabledState;

constexpr std::uint16_t kTxEnable = 0x1000;
constexpr std::uint16_t kTxDisable = 0x3000;
constexpr std::uint16_t kAuxExpected = 0x430;

// Nodes allowed above the count of the fully populated, settled appliance:
// every population of agent objects (records, reactors, port statuses, CPU
// interfaces) is bounded by the four interfaces, eight ports and two slices,
// and the baseline already holds each at its largest. The slack covers
// objects between owners for a moment (a replaced ham still held by the
// register service, a replaced slice directory). A leak per cycle or per
// fault passes it within minutes.
constexpr std::int64_t kLiveSlack = 16;
std::size_t regIndex(std::uint8_t reg) {
  return reg == Chip::kExtCtrl ? 0 : 1;
}

}  // namespace

Invariants::Snapshot Invariants::snapshot() {
  Snapshot s;
  auto const& chip = *a_.app().chip;
  for (PortId p = 0; p < kPorts; ++p) {
    s.reads[p][0] = chip.reads(p, Chip::kExtCtrl);
    s.reads[p][1] = chip.reads(p, Chip::kAuxCtrl);
    s.extWrites[p] = chip.writes(p, Chip::kExtCtrl);
    s.miiFailing = s.miiFailing || a_.miiFailing[p];
  }
  s.registerAccesses = chip.registerAccesses();
  s.registerWrites = chip.registerWrites();
  s.outstanding =
      a_.outstanding() || (a_.sm().registerStatus() && a_.sm().registerStatus()->resultCount() > 0);
  s.failuresPending = chip.failuresPending();
  maxInFlight_ = 0;
  s.readValuesPending = chip.readValuesPending();
  for (auto const& i : kIntfs) {
    if (*i.cpu && a_.configured(i) &&
        a_.sm().intfState(Lanx::IntfId(i.id)) == IntfEnabledState::disabled) {
      s.disabledDown[i.cpu] = a_.cpu().down(i.cpu);
    }
  }
  return s;
}

// Faults injected earlier that struck in this cycle: pending MDIO errors or
// injected read values taken by its accesses, MII reads failing during it.
bool Invariants::latentFaultFired(Snapshot const& before) const {
  auto const& chip = *a_.app().chip;
  bool miiFailing = false;
  for (bool f : a_.miiFailing)
    miiFailing = miiFailing || f;
  return before.miiFailing || miiFailing || chip.failuresPending() < before.failuresPending ||
         chip.readValuesPending() < before.readValuesPending;
}

void Invariants::check(Snapshot const& before) {
  auto& machine = a_.sm();
  auto const& chip = *a_.app().chip;
  auto const& status = *a_.app().status;

  // A register read in a cycle without faults was read from the chip as it
  // is, and the agent has known it since: whatever the agent writes later it
  // writes itself.
  for (auto it = a_.tainted.begin(); it != a_.tainted.end();) {
    if (chip.reads(it->port, it->reg) > before.reads[it->port][regIndex(it->reg)])
      it = a_.tainted.erase(it);
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
      if (!a_.configured(i))
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
  if (!a_.idle() || machine.registerSm()->busy() || machine.registerConfig()->requestCount() != 0 ||
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
  if (a_.app().config->mgmtInterfaceCount() > 0) {
    count("error text empty after a clean cycle");
    if (!status.error().empty())
      violation("error text empty after a clean cycle", "error text '" + status.error() + "'");
  }

  for (auto const& i : kIntfs) {
    if (!a_.configured(i))
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
      if (a_.tainted.count(r))
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
    auto const down = a_.cpu().down(i.cpu);
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
      auto const other = a_.cpu().downCrossCheck(i.cpu);
      if (other && other != down)
        violation("protodown matches the link", std::string(i.cpu) +
                                                    ": rtnetlink and iproute2 disagree on "
                                                    "protodown");
    }
  }

  // The enabled states the agent acts on follow the interface reactors'
  // rules (see a_.mirror).
  count("enabled states follow the interface configurations");
  for (auto const& i : kIntfs) {
    Lanx::IntfId const id(i.id);
    auto const have = machine.intfStates().find(id);
    auto const want = a_.mirror.find(i.id);
    bool const haveOne = have != machine.intfStates().end();
    bool const wantOne = want != a_.mirror.end();
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

void Invariants::afterEvent() {
  // The xid only grows: every transaction takes the next one, and 2^32 of
  // them are centuries of polling away.
  auto const xid = a_.sm().xid();
  if (xid < lastXid_)
    violation("the xid only grows",
              "xid " + std::to_string(xid) + " after " + std::to_string(lastXid_));
  lastXid_ = xid;
  auto const& error = a_.app().status->error();
  errorChanged_ = error != lastError_;
  if (errorChanged_)
    lastError_ = error;
  if (auto const& rc = a_.sm().registerConfig())
    maxInFlight_ = std::max(maxInFlight_, rc->requestCount());
}

void Invariants::cycleEnded(Snapshot const& before, bool faulted) {
  // A cycle is judged only when nothing disturbed it: no fault injected
  // since the previous cycle ended, none injected earlier that struck in
  // it, and no transaction of an abandoned cycle still in flight as it
  // began. An injected read value that the agent took leaves it with a value
  // the chip does not hold; that register stays tainted (it was marked when
  // the value was injected) until a clean cycle reads it again.
  bool const clean = !faulted && !before.outstanding && !latentFaultFired(before);
  if (clean) {
    ++sum_.checkedCycles;
    check(before);
  }
  prevClean_ = clean;
  prevWrote_ = a_.app().chip->registerWrites() > before.registerWrites;
  prevEndedByFailure_ = errorChanged_ && !a_.app().status->error().empty();
}

void Invariants::liveBoundFromNow() {
  liveBound_ = Orba::Node::liveCount() + kLiveSlack;
}

void Invariants::released(std::int64_t liveBefore) {
  // Nothing leaks: with the appliance gone, every node made for it is gone.
  auto const liveAfter = Orba::Node::liveCount();
  count("every node released at teardown");
  if (liveAfter != liveBefore)
    violation("every node released at teardown",
              std::to_string(liveAfter - liveBefore) + " nodes outlive the appliance");
}

}  // namespace Soak
