#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>

#include "Bcm53X/Bcm53134Agent/RegisterVal.h"
#include "platform/hardware/Bcm53134.h"
#include "platform/interface/EthPhyIntfConfig.h"
#include "platform/kiv/Clock.h"
#include "platform/kiv/Dir.h"
#include "platform/kiv/Enum.h"
#include "platform/kiv/Typed.h"
#include "platform/mdio/MdioRegLib.h"

namespace Bcm53134::Agent {

class CpuIfMgr;
class IntfSliceReactor;

// The switch state machine: the one object that owns the register service
// objects, the managed register records, the interfaces' enabled states, the
// slice reactors, the poll clock notifiee and the CPU interface manager, and
// runs the poll cycle idle -> readingRegVals -> writingRegVals -> idle.
//
// An absent hardware config is treated like a config without ham: the
// machine polls every pollPeriod, traces that the hardware is not available
// and never touches the empty handle.
class Bcm53134Sm : public Kiv::Typed<Bcm53134Sm> {
 public:
  using U8 = std::uint8_t;
  using U32 = std::uint32_t;
  using PortId = Hardware::Bcm53134::PortId;

  enum class State : std::uint8_t { idle = 0, readingRegVals = 1, writingRegVals = 2 };
  static Kiv::EnumNames const& stateNames();
  static char const* stringValue(State s);
  static State StateInstance(std::uint8_t v);
  static State StateInstance(std::string_view name);  // throws Kiv::AttributeError
  static State sequenceToValue(std::string_view text) { return StateInstance(text); }

  // The poll clock notifiee: runs the owner's doPoll at each wake-up. It
  // refers to its owner by a plain pointer, which the owner clears when it
  // goes, so that a pending wake-up can no longer reach it.
  class KivClockPoll : public Kiv::Clock::NotifieeConst {
   public:
    static Orba::Ptr<KivClockPoll> KivClockPollIs(Orba::Ptr<Kiv::Clock const> const& clock,
                                                  Bcm53134Sm* owner);
    Bcm53134Sm* owner() const noexcept { return owner_; }
    void ownerIs(Bcm53134Sm* owner) noexcept { owner_ = owner; }

    void notifierIs(Orba::Ptr<Orba::Node const> const& notifier) override;
    void onAttribute(Kiv::AttributeId id, void const* key) override;
    void kivDoZombieReactors(bool on) override;

   private:
    KivClockPoll(Orba::Ptr<Kiv::Clock const> const& clock, Bcm53134Sm* owner);
    ~KivClockPoll() override;
    Bcm53134Sm* owner_;
  };

  static constexpr U32 miiStatusRegister = 1;
  static constexpr U32 miiStatusLinkEstabMask = 4;

  // Constructs the machine and switches its notifications on.
  static Orba::Ptr<Bcm53134Sm> Bcm53134SmIs(Orba::Ptr<Hardware::Bcm53134::Config> const& config,
                                            Orba::Ptr<Hardware::Bcm53134::Status> const& status,
                                            Orba::Ptr<Kiv::Dir> const& intfSliceDir);

  Orba::Ptr<Hardware::Bcm53134::Config> const& config() const noexcept { return config_; }
  Orba::Ptr<Hardware::Bcm53134::Status> const& status() const noexcept { return status_; }
  Orba::Ptr<Kiv::Dir> const& intfSliceDir() const noexcept { return intfSliceDir_; }

  void handleConfig();

  Orba::Ptr<MdioRegLib::Config> const& registerConfig() const noexcept { return registerConfig_; }
  Orba::Ptr<MdioRegLib::Config> registerConfigIs(Orba::String const& name);
  Orba::Ptr<MdioRegLib::Config> registerConfigDel();
  Orba::Ptr<MdioRegLib::Status> const& registerStatus() const noexcept { return registerStatus_; }
  Orba::Ptr<MdioRegLib::Status> registerStatusIs(Orba::String const& name);
  Orba::Ptr<MdioRegLib::Status> registerStatusDel();
  Orba::Ptr<MdioRegLib::RegisterSm> const& registerSm() const noexcept { return registerSm_; }
  Orba::Ptr<MdioRegLib::RegisterSm> registerSmIs(Orba::Ptr<HalMdioAccel::Accel> const& accel,
                                                 Orba::Ptr<MdioRegLib::Config> const& config,
                                                 Orba::Ptr<MdioRegLib::Status> const& status);
  Orba::Ptr<MdioRegLib::RegisterSm> registerSmDel();
  void createRegisterSm();
  void initialize();

  State state() const noexcept { return state_; }
  void stateIs(State s);
  void handleState();
  Kiv::Seconds stateEntry() const noexcept { return stateEntry_; }
  void stateEntryIs(Kiv::Seconds t) noexcept { stateEntry_ = t; }
  bool repollingNeeded() const noexcept { return repollingNeeded_; }
  void repollingNeededIs(bool v) noexcept { repollingNeeded_ = v; }

  // Internal port -> external port of the management interfaces.
  using ExternalIds = std::map<U8, PortId>;
  PortId externalId(U8 internalPort) const;
  ExternalIds const& externalIds() const noexcept { return externalId_; }
  void externalIdIs(U8 internalPort, PortId externalPort) {
    externalId_[internalPort] = externalPort;
  }
  void externalIdDel(U8 internalPort) { externalId_.erase(internalPort); }
  void externalIdDelAll() { externalId_.clear(); }

  using IntfSliceReactors = std::map<Orba::String, Orba::Ptr<IntfSliceReactor>>;
  Orba::Ptr<IntfSliceReactor> intfSliceReactor(Orba::String const& name) const;
  IntfSliceReactors const& intfSliceReactors() const noexcept { return intfSliceReactor_; }
  Orba::Ptr<IntfSliceReactor> intfSliceReactorIs(
      Orba::Ptr<Interface::EthPhyIntfConfigDir> const& configDir,
      Orba::Ptr<Bcm53134Sm> const& agent);
  Orba::Ptr<IntfSliceReactor> intfSliceReactorDel(Orba::String const& name);
  void intfSliceReactorDelAll();
  void handleSlice(Orba::String const& name);
  void handleSlice();

  using IntfStates = std::map<Lanx::IntfId, Interface::IntfEnabledState>;
  Interface::IntfEnabledState intfState(Lanx::IntfId const& id) const;
  IntfStates const& intfStates() const noexcept { return intfState_; }
  void intfStateIs(Lanx::IntfId const& id, Interface::IntfEnabledState s) { intfState_[id] = s; }
  void intfStateDel(Lanx::IntfId const& id) { intfState_.erase(id); }
  void intfStateDelAll() { intfState_.clear(); }

  Kiv::Seconds pollPeriod() const noexcept { return pollPeriod_; }
  void pollPeriodIs(Kiv::Seconds p) noexcept { pollPeriod_ = p; }
  U32 xid() const noexcept { return xid_; }
  void xidIs(U32 x) noexcept { xid_ = x; }
  U32 nextXid() noexcept { return ++xid_; }

  Orba::Ptr<KivClockPoll> const& clockPoll() const noexcept { return clockPoll_; }
  void clockPollIs(Orba::Ptr<Kiv::Clock const> const& clock);
  Orba::Ptr<Kiv::Clock const> clockPollDel();
  void doPoll();

  using RegisterVals = std::map<RegisterId, Orba::Ptr<RegisterVal>>;
  Orba::Ptr<RegisterVal> registerVal(RegisterId const& id) const;
  RegisterVals const& registerVals() const noexcept { return registerVal_; }
  Orba::Ptr<RegisterVal> registerValIs(RegisterId const& id, U32 dataSize, U32 validityCheckVal,
                                       U32 validityCheckMask);
  Orba::Ptr<RegisterVal> registerValDel(RegisterId const& id);
  void registerValDelAll() { registerVal_.clear(); }

  RegisterId const& currentRegId() const noexcept { return currentRegId_; }
  void currentRegIdIs(RegisterId const& id) noexcept { currentRegId_ = id; }

  Orba::Ptr<CpuIfMgr> const& cpuIfMgr() const noexcept { return cpuIfMgr_; }
  void cpuIfMgrIs(Orba::Ptr<CpuIfMgr> const& mgr);

  void start();

  // Switches every subscription, the register service, the slice reactors
  // and the clock notifiee on or off together. Idempotent.
  void hasNotificationActiveIs(bool on);
  void kivDoZombieReactors(bool on);

  static Kiv::TypeDesc const& typeDesc();

 private:
  Bcm53134Sm(Orba::Ptr<Hardware::Bcm53134::Config> const& config,
             Orba::Ptr<Hardware::Bcm53134::Status> const& status,
             Orba::Ptr<Kiv::Dir> const& intfSliceDir);
  ~Bcm53134Sm() override;

  // Subscriber callbacks.
  void configDispatch(Kiv::AttributeId id, void const* key);
  void intfSliceDirDispatch(Kiv::AttributeId id, void const* key);
  void registerStatusDispatch(Kiv::AttributeId id, void const* key);

  // The poll cycle's steps; reachable only from inside the machine.
  void handleRegisterResult();
  // Publishes a failed transaction's message, traced under the operation
  // that found the failure, and ends the cycle.
  void failTransaction(char const* operation, std::string const& message);
  void transactionIssued(U32 xid);
  bool transactionOverdue() const;
  void failOverdueTransaction();
  void readRegister(RegisterVal const& record);
  void writeRegister(RegisterId const& id, U32 value, U8 size);
  void createRegVals();
  void createMissingRegVals();
  void readRegVals();
  void writeRegVals();
  void readLinkStatuses();
  void processLinkStatuses();
  void checkAuxCtrlReg(PortId portId, Lanx::IntfId const& intfId, Orba::String const& desc);
  void armPoll(Kiv::Seconds at);
  bool hamPresent() const noexcept { return config_ && config_->ham(); }

  Orba::Ptr<Hardware::Bcm53134::Config> config_;
  Orba::Ptr<Hardware::Bcm53134::Status> status_;
  Orba::Ptr<Kiv::Dir> intfSliceDir_;
  Orba::Ptr<MdioRegLib::Config> registerConfig_;
  Orba::Ptr<MdioRegLib::Status> registerStatus_;
  Orba::Ptr<MdioRegLib::RegisterSm> registerSm_;
  State state_ = State::idle;
  Kiv::Seconds stateEntry_ = 0;
  bool repollingNeeded_ = true;
  ExternalIds externalId_;
  IntfSliceReactors intfSliceReactor_;
  IntfStates intfState_;
  Kiv::Seconds pollPeriod_ = 2.0;
  U32 xid_ = 0;
  Orba::Ptr<KivClockPoll> clockPoll_;
  RegisterVals registerVal_;
  RegisterId currentRegId_;
  Orba::Ptr<CpuIfMgr> cpuIfMgr_;
  // The transaction whose result the cycle waits for, and when to give up.
  std::optional<U32> outstandingXid_;
  Kiv::Seconds transactionDeadline_ = 0;
  bool noStatusTraced_ = false;

  Orba::SubscriberSlot configSlot_;
  Orba::SubscriberSlot sliceSlot_;
  Orba::SubscriberSlot registerStatusSlot_;
};

std::ostream& operator<<(std::ostream& os, Bcm53134Sm::State s);

// Exported creator, identical to Bcm53134Sm::Bcm53134SmIs.
Orba::Ptr<Bcm53134Sm> bcm53134SmFactory(Orba::Ptr<Hardware::Bcm53134::Config> const& config,
                                        Orba::Ptr<Hardware::Bcm53134::Status> const& status,
                                        Orba::Ptr<Kiv::Dir> const& intfSliceDir);

}  // namespace Bcm53134::Agent

template <>
struct Kiv::TypeOf<Bcm53134::Agent::Bcm53134Sm::State> {
  static Kiv::TypeDesc const& desc();
};
