// The switch state machine object: creation, notification switching,
// teardown, the scheduling rule and the poll clock notifiee.
#include "Bcm53X/Bcm53134Agent/Bcm53134Sm.h"

#include <ostream>

#include "Bcm53X/Bcm53134Agent/AgentTrace.h"
#include "Bcm53X/Bcm53134Agent/IntfSliceReactor.h"
#include "Bcm53X/CpuIfMgr/CpuIfMgr.h"
#include "platform/kiv/Errors.h"
#include "platform/kiv/TraceOp.h"

namespace Bcm53134::Agent {

// State

Kiv::EnumNames const& Bcm53134Sm::stateNames() {
  static Kiv::EnumNames const n{"Bcm53134::Agent::Bcm53134Sm::State",
                                {{0, "idle"}, {1, "readingRegVals"}, {2, "writingRegVals"}}};
  return n;
}

char const* Bcm53134Sm::stringValue(State s) {
  auto const* n = stateNames().name(static_cast<std::uint8_t>(s));
  return n ? n : "invalidState";
}

Bcm53134Sm::State Bcm53134Sm::StateInstance(std::uint8_t v) {
  return static_cast<State>(v);
}

Bcm53134Sm::State Bcm53134Sm::StateInstance(std::string_view name) {
  return static_cast<State>(stateNames().parse(name));
}

std::ostream& operator<<(std::ostream& os, Bcm53134Sm::State s) {
  return os << Bcm53134Sm::stringValue(s);
}

// Creation

Orba::Ptr<Bcm53134Sm> Bcm53134Sm::Bcm53134SmIs(Orba::Ptr<Hardware::Bcm53134::Config> const& config,
                                               Orba::Ptr<Hardware::Bcm53134::Status> const& status,
                                               Orba::Ptr<Kiv::Dir> const& intfSliceDir) {
  auto sm = Orba::Ptr<Bcm53134Sm>::adopt(new Bcm53134Sm(config, status, intfSliceDir));
  sm->hasNotificationActiveIs(true);
  return sm;
}

Orba::Ptr<Bcm53134Sm> bcm53134SmFactory(Orba::Ptr<Hardware::Bcm53134::Config> const& config,
                                        Orba::Ptr<Hardware::Bcm53134::Status> const& status,
                                        Orba::Ptr<Kiv::Dir> const& intfSliceDir) {
  return Bcm53134Sm::Bcm53134SmIs(config, status, intfSliceDir);
}

Bcm53134Sm::Bcm53134Sm(Orba::Ptr<Hardware::Bcm53134::Config> const& config,
                       Orba::Ptr<Hardware::Bcm53134::Status> const& status,
                       Orba::Ptr<Kiv::Dir> const& intfSliceDir)
    : config_(config), status_(status), intfSliceDir_(intfSliceDir) {
  configSlot_.callbackIs([this](Kiv::AttributeId id, void const* key) { configDispatch(id, key); });
  sliceSlot_.callbackIs(
      [this](Kiv::AttributeId id, void const* key) { intfSliceDirDispatch(id, key); });
  registerStatusSlot_.callbackIs(
      [this](Kiv::AttributeId id, void const* key) { registerStatusDispatch(id, key); });
  if (config_)
    config_->publisher()->subscriberAdd(configSlot_);
  if (intfSliceDir_)
    intfSliceDir_->publisher()->subscriberAdd(sliceSlot_);
  // Binding the notifiee runs the first poll at once, inside this
  // constructor; with the hardware present it initialises the machine.
  clockPollIs(Kiv::ActivityFacility::clock());
}

Bcm53134Sm::~Bcm53134Sm() {
  hasNotificationActiveIs(false);
  kivDoZombieReactors(true);
  configSlot_.unsubscribe();
  sliceSlot_.unsubscribe();
  if (clockPoll_)
    clockPoll_->ownerIs(nullptr);
  registerConfig_ = nullptr;
  registerStatusDel();
  if (auto sm = std::move(registerSm_))
    sm->hasNotificationActiveIs(false);
  intfSliceReactorDelAll();
  registerValDelAll();
  cpuIfMgr_ = nullptr;
  externalId_.clear();
  intfState_.clear();
  clockPoll_ = nullptr;
  intfSliceDir_ = nullptr;
  status_ = nullptr;
  config_ = nullptr;
}

// Notification switching

void Bcm53134Sm::hasNotificationActiveIs(bool on) {
  if (on == notificationActive())
    return;
  notificationActiveFlagIs(on);
  auto toggle = [on](Orba::SubscriberSlot& slot, Orba::Node const* target) {
    if (on && !slot.subscribed() && target)
      target->publisher()->subscriberAdd(slot);
    if (!on && slot.subscribed())
      slot.unsubscribe();
  };
  toggle(configSlot_, config_.get());
  toggle(sliceSlot_, intfSliceDir_.get());
  toggle(registerStatusSlot_, registerStatus_.get());
  if (registerSm_)
    registerSm_->hasNotificationActiveIs(on);
  for (auto const& [name, reactor] : intfSliceReactor_)
    reactor->hasNotificationActiveIs(on);
  if (clockPoll_)
    clockPoll_->hasNotificationActiveIs(on);
}

void Bcm53134Sm::kivDoZombieReactors(bool on) {
  if (on == zombie())
    return;
  if (clockPoll_)
    clockPoll_->kivDoZombieReactors(on);
  zombieFlagIs(on);
}

// Subscriber callbacks

void Bcm53134Sm::configDispatch(Kiv::AttributeId id, void const*) {
  if (zombie() || id != Hardware::Bcm53134::Config::hamAttrId())
    return;
  handleConfig();
}

void Bcm53134Sm::intfSliceDirDispatch(Kiv::AttributeId id, void const* key) {
  if (zombie() || id != Kiv::Dir::entityAttrId() || !key)
    return;
  handleSlice(*static_cast<Orba::String const*>(key));
}

// Scheduling

void Bcm53134Sm::stateIs(State s) {
  if (s == state_)
    return;
  state_ = s;
  handleState();
}

void Bcm53134Sm::handleState() {
  KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "handleState") << ": state " << stringValue(state_);
  auto const now = Kiv::System::currentTime();
  armPoll(state_ == State::idle ? now + pollPeriod_ : now);
}

void Bcm53134Sm::armPoll(Kiv::Seconds at) {
  if (clockPoll_)
    clockPoll_->timeMinIs(at);
}

// Value collections

Bcm53134Sm::PortId Bcm53134Sm::externalId(U8 internalPort) const {
  auto it = externalId_.find(internalPort);
  return it == externalId_.end() ? PortId{} : it->second;
}

Interface::IntfEnabledState Bcm53134Sm::intfState(Lanx::IntfId const& id) const {
  auto it = intfState_.find(id);
  return it == intfState_.end() ? Interface::IntfEnabledState{} : it->second;
}

// Register records

Orba::Ptr<RegisterVal> Bcm53134Sm::registerVal(RegisterId const& id) const {
  auto it = registerVal_.find(id);
  return it == registerVal_.end() ? Orba::Ptr<RegisterVal>() : it->second;
}

Orba::Ptr<RegisterVal> Bcm53134Sm::registerValIs(RegisterId const& id, U32 dataSize,
                                                 U32 validityCheckVal, U32 validityCheckMask) {
  if (auto existing = registerVal(id)) {
    auto differs = [&](char const* attr, U32 have, U32 want) {
      if (have != want) {
        Kiv::throwMutatorReinstantiating(RegisterVal::typeDesc().name, attr, std::to_string(have),
                                         std::to_string(want));
      }
    };
    differs("dataSize", existing->dataSize(), dataSize);
    differs("validityCheckVal", existing->validityCheckVal(), validityCheckVal);
    differs("validityCheckMask", existing->validityCheckMask(), validityCheckMask);
    return existing;
  }
  auto record = RegisterVal::RegisterValIs(id, dataSize, validityCheckVal, validityCheckMask);
  registerVal_.emplace(id, record);
  return record;
}

Orba::Ptr<RegisterVal> Bcm53134Sm::registerValDel(RegisterId const& id) {
  auto it = registerVal_.find(id);
  if (it == registerVal_.end())
    return {};
  auto old = std::move(it->second);
  registerVal_.erase(it);
  return old;
}

void Bcm53134Sm::cpuIfMgrIs(Orba::Ptr<CpuIfMgr> const& mgr) {
  cpuIfMgr_ = mgr;
}

// The poll clock

Orba::Ptr<Bcm53134Sm::KivClockPoll> Bcm53134Sm::KivClockPoll::KivClockPollIs(
    Orba::Ptr<Kiv::Clock const> const& clock, Bcm53134Sm* owner) {
  return Orba::Ptr<KivClockPoll>::adopt(new KivClockPoll(clock, owner));
}

Bcm53134Sm::KivClockPoll::KivClockPoll(Orba::Ptr<Kiv::Clock const> const& clock, Bcm53134Sm* owner)
    : owner_(nullptr) {
  // Watch the clock without running the owner, then take the owner.
  Kiv::Clock::NotifieeConst::notifierIs(clock);
  owner_ = owner;
  isRegisteredNotifieeIs(true);
}

Bcm53134Sm::KivClockPoll::~KivClockPoll() {
  hasNotificationActiveIs(false);
  zombieFlagIs(true);
}

void Bcm53134Sm::KivClockPoll::notifierIs(Orba::Ptr<Orba::Node const> const& notifier) {
  auto clock = Orba::Ptr<Kiv::Clock const>(dynamic_cast<Kiv::Clock const*>(notifier.get()));
  if (clock == this->notifier())
    return;
  Kiv::Clock::NotifieeConst::notifierIs(clock);
  if (clock && !zombie() && owner_)
    owner_->doPoll();
  isRegisteredNotifieeIs(true);
}

void Bcm53134Sm::KivClockPoll::onAttribute(Kiv::AttributeId id, void const*) {
  if (id != wakeupAttrId() || zombie() || !owner_)
    return;
  owner_->doPoll();
}

void Bcm53134Sm::KivClockPoll::kivDoZombieReactors(bool on) {
  if (on == zombie())
    return;
  if (notifier())
    hasNotificationActiveIs(!on);
  zombieFlagIs(on);
}

void Bcm53134Sm::clockPollIs(Orba::Ptr<Kiv::Clock const> const& clock) {
  if (clockPoll_ && clockPoll_->notifier() == clock)
    return;
  if (!clock) {
    if (auto old = std::move(clockPoll_)) {
      old->kivDoZombieReactors(true);
      old->ownerIs(nullptr);
    }
    return;
  }
  if (clockPoll_) {
    clockPoll_->notifierIs(clock);
  } else {
    auto poll = KivClockPoll::KivClockPollIs(Orba::Ptr<Kiv::Clock const>(), this);
    poll->hasNotificationActiveIs(true);
    clockPoll_ = poll;
    poll->notifierIs(clock);
  }
  if (clockPoll_)
    clockPoll_->kivDoZombieReactors(zombie());
}

Orba::Ptr<Kiv::Clock const> Bcm53134Sm::clockPollDel() {
  auto old = std::move(clockPoll_);
  if (!old)
    return {};
  old->kivDoZombieReactors(true);
  old->ownerIs(nullptr);
  old->hasNotificationActiveIs(false);
  return old->notifier();
}

}  // namespace Bcm53134::Agent
