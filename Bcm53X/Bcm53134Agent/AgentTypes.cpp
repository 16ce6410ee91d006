// The switch side's type module: the attribute tables of its types, their
// registration when the library loads, and the library's C entry point.
#include "Bcm53X/Bcm53134Agent/IntfSliceReactor.h"
#include "Bcm53X/Bcm53134Agent/Root.h"
#include "Bcm53X/CpuIfMgr/CpuIfMgr.h"
#include "platform/kiv/AttrTable.h"
#include "platform/kiv/Errors.h"
#include "platform/kiv/Trace.h"
#include "platform/kiv/ValueText.h"

namespace Bcm53134::Agent {

using Kiv::AttrDesc;
using Kiv::handle;
using Kiv::handleTo;
using Kiv::instantiatingHandle;
using Kiv::membersOf;
using Kiv::operation;
using Kiv::orNone;
using Kiv::param;
using Kiv::ParamDesc;
using Kiv::readOnly;
using Kiv::readWrite;
using Kiv::self;
using Kiv::TypeDesc;
using Kiv::TypeOf;
using Kiv::Value;
using Kiv::voidOperation;
using Sm = Bcm53134Sm;

namespace {

// A poll period of 0, below zero or not finite would stop time (every poll
// due at once, forever); one beyond a day is a mistake.
constexpr double kMinPollPeriod = 0.001, kMaxPollPeriod = 86400;

double pollPeriodChecked(Value const& v) {
  auto const p = v.as<double>();
  if (!(p >= kMinPollPeriod && p <= kMaxPollPeriod)) {
    throw Kiv::AttributeError(Kiv::_fmt("pollPeriod must be from %g to %g seconds, not %s",
                                        kMinPollPeriod, kMaxPollPeriod, v.text().c_str()));
  }
  return p;
}

}  // namespace

TypeDesc const& RegisterVal::typeDesc() {
  static TypeDesc const d = [] {
    using R = RegisterVal;
    using Kiv::constant;
    auto t = Kiv::entityType("Bcm53134::Agent::RegisterVal");
    t.attrs = {readOnly<&R::id>(1, "id"),
               readOnly<&R::dataSize>(2, "dataSize"),
               readWrite<&R::val, &R::valIs>(3, "val"),
               readWrite<&R::valid, &R::validIs>(4, "valid"),
               readWrite<&R::configVal, &R::configValIs>(5, "configVal"),
               readWrite<&R::configValid, &R::configValidIs>(6, "configValid"),
               readOnly<&R::validityCheckVal>(7, "validityCheckVal"),
               readOnly<&R::validityCheckMask>(8, "validityCheckMask"),
               constant(9, "extendedControlPageBase", extendedControlPageBase),
               constant(10, "extendedControlReg", extendedControlReg),
               constant(11, "extendedControlRegSize", extendedControlRegSize),
               constant(12, "extendedControlValidVal", extendedControlValidVal),
               constant(13, "extendedControlValidMask", extendedControlValidMask),
               constant(14, "txEnable", txEnable),
               constant(15, "txDisable", txDisable),
               constant(16, "auxCtrlReg", auxCtrlReg),
               constant(17, "auxCtrlRegSize", auxCtrlRegSize),
               constant(18, "auxCtrlRegExpVal", auxCtrlRegExpVal),
               constant(19, "auxCtrlRegValidVal", auxCtrlRegValidVal),
               constant(20, "auxCtrlRegValidMask", auxCtrlRegValidMask)};
    return t;
  }();
  return d;
}

// The four types refer to each other (a slice reactor's agent is a machine
// whose slice reactors are slice reactors), so their descriptors are built
// together, referring to each other by address.
struct AgentTypes {
  TypeDesc sm, slice, intf, root;
  AgentTypes();
};

AgentTypes& agentTypes() {
  static AgentTypes t;
  return t;
}

TypeDesc const& Sm::typeDesc() {
  return agentTypes().sm;
}
TypeDesc const& IntfReactor::typeDesc() {
  return agentTypes().intf;
}
TypeDesc const& IntfSliceReactor::typeDesc() {
  return agentTypes().slice;
}
TypeDesc const& Root::typeDesc() {
  return agentTypes().root;
}

namespace {

TypeDesc smType(AgentTypes const& all) {
  using Config = Hardware::Bcm53134::Config;
  using Status = Hardware::Bcm53134::Status;
  auto t = Kiv::entityType("Bcm53134::Agent::Bcm53134Sm");
  auto const* u8 = &TypeOf<std::uint8_t>::desc();
  t.attrs = {
      handle<Config>(1, "config", [](auto& n) { return orNone(self<Sm>(n).config()); }),
      handle<Status>(2, "status", [](auto& n) { return orNone(self<Sm>(n).status()); }),
      handle<Kiv::Dir>(3, "intfSliceDir",
                       [](auto& n) { return orNone(self<Sm>(n).intfSliceDir()); }),
      voidOperation<&Sm::handleConfig>(4, "handleConfig"),
      instantiatingHandle(
          5, "registerConfig", &MdioRegLib::Config::typeDesc(), {param<std::string>("name")},
          [](auto& n) { return orNone(self<Sm>(n).registerConfig()); },
          [](auto& n, auto const& a) {
            return Value::of(self<Sm>(n).registerConfigIs(a[0].template as<std::string>()));
          },
          [](auto& n, auto const&) { return orNone(self<Sm>(n).registerConfigDel()); }),
      instantiatingHandle(
          6, "registerStatus", &MdioRegLib::Status::typeDesc(), {param<std::string>("name")},
          [](auto& n) { return orNone(self<Sm>(n).registerStatus()); },
          [](auto& n, auto const& a) {
            return Value::of(self<Sm>(n).registerStatusIs(a[0].template as<std::string>()));
          },
          [](auto& n, auto const&) { return orNone(self<Sm>(n).registerStatusDel()); }),
      instantiatingHandle(
          7, "registerSm", &MdioRegLib::RegisterSm::typeDesc(),
          {ParamDesc{"accel", &HalMdioAccel::Accel::typeDesc()},
           ParamDesc{"config", &MdioRegLib::Config::typeDesc()},
           ParamDesc{"status", &MdioRegLib::Status::typeDesc()}},
          [](auto& n) { return orNone(self<Sm>(n).registerSm()); },
          [](auto& n, auto const& a) {
            return Value::of(self<Sm>(n).registerSmIs(Kiv::handleAs<HalMdioAccel::Accel>(a[0]),
                                                      Kiv::handleAs<MdioRegLib::Config>(a[1]),
                                                      Kiv::handleAs<MdioRegLib::Status>(a[2])));
          },
          [](auto& n, auto const&) { return orNone(self<Sm>(n).registerSmDel()); }),
      voidOperation<&Sm::createRegisterSm>(8, "createRegisterSm"),
      voidOperation<&Sm::initialize>(9, "initialize"),
      readWrite<Sm::State>(
          10, "state", [](auto& n) { return Value::of(self<Sm>(n).state()); },
          [](auto& n, auto const& v) {
            // A number that is no state would leave the poll without a step.
            auto const s = static_cast<std::uint8_t>(v.template as<Sm::State>());
            self<Sm>(n).stateIs(static_cast<Sm::State>(Sm::stateNames().checked(s)));
          }),
      voidOperation<&Sm::handleState>(11, "handleState"),
      readWrite<&Sm::stateEntry, &Sm::stateEntryIs>(12, "stateEntry"),
      readWrite<&Sm::repollingNeeded, &Sm::repollingNeededIs>(13, "repollingNeeded"),
      Kiv::collection(
          14, "externalId", u8, u8,
          {.params = {param<std::uint8_t>("internalPort"), param<std::uint8_t>("externalPort")},
           .lookup = [](auto& n, auto const& k) -> Value {
             auto const& m = self<Sm>(n).externalIds();
             auto it = m.find(k.template as<std::uint8_t>());
             return it == m.end() ? Value() : Value::of(it->second);
           },
           .insert =
               [](auto& n, auto const& a) {
                 self<Sm>(n).externalIdIs(a[0].template as<std::uint8_t>(),
                                          a[1].template as<std::uint8_t>());
                 return a[1];
               },
           .del =
               [](auto& n, auto const& k) {
                 self<Sm>(n).externalIdDel(k.template as<std::uint8_t>());
                 return Value();
               },
           .count = [](auto& n) { return self<Sm>(n).externalIds().size(); },
           .members = [](auto& n) { return membersOf(self<Sm>(n).externalIds()); }}),
      Kiv::instantiatingCollection(
          15, "intfSliceReactor", &all.slice, &TypeOf<std::string>::desc(),
          {.params = {ParamDesc{"configDir", &Interface::EthPhyIntfConfigDir::typeDesc()},
                      ParamDesc{"agent", &all.sm}},
           .lookup = [](auto& n, auto const& k) -> Value {
             return orNone(self<Sm>(n).intfSliceReactor(k.template as<std::string>()));
           },
           .insert =
               [](auto& n, auto const& a) {
                 return Value::of(self<Sm>(n).intfSliceReactorIs(
                     Kiv::handleAs<Interface::EthPhyIntfConfigDir>(a[0]), Kiv::handleAs<Sm>(a[1])));
               },
           .del = [](auto& n, auto const& k) -> Value {
             return orNone(self<Sm>(n).intfSliceReactorDel(k.template as<std::string>()));
           },
           .count = [](auto& n) { return self<Sm>(n).intfSliceReactors().size(); },
           .members = [](auto& n) { return membersOf(self<Sm>(n).intfSliceReactors()); }}),
      operation(16, "handleSlice", {param<std::string>("name")},
                [](auto& n, auto const& a) {
                  self<Sm>(n).handleSlice(a[0].template as<std::string>());
                  return Value();
                }),
      Kiv::collection(17, "intfState", &TypeOf<Interface::IntfEnabledState>::desc(),
                      &TypeOf<Lanx::IntfId>::desc(),
                      {.params = {param<Lanx::IntfId>("intfId"),
                                  param<Interface::IntfEnabledState>("enabledState")},
                       .lookup = [](auto& n, auto const& k) -> Value {
                         auto const& m = self<Sm>(n).intfStates();
                         auto it = m.find(k.template as<Lanx::IntfId>());
                         return it == m.end() ? Value() : Value::of(it->second);
                       },
                       .insert =
                           [](auto& n, auto const& a) {
                             self<Sm>(n).intfStateIs(
                                 a[0].template as<Lanx::IntfId>(),
                                 a[1].template as<Interface::IntfEnabledState>());
                             return a[1];
                           },
                       .del =
                           [](auto& n, auto const& k) {
                             self<Sm>(n).intfStateDel(k.template as<Lanx::IntfId>());
                             return Value();
                           },
                       .count = [](auto& n) { return self<Sm>(n).intfStates().size(); },
                       .members = [](auto& n) { return membersOf(self<Sm>(n).intfStates()); }}),
      readWrite<double>(
          18, "pollPeriod", [](auto& n) { return Value::of(self<Sm>(n).pollPeriod()); },
          [](auto& n, auto const& v) { self<Sm>(n).pollPeriodIs(pollPeriodChecked(v)); }),
      readWrite<&Sm::xid, &Sm::xidIs>(19, "xid"),
      operation(
          20, "nextXid", {}, [](auto& n, auto const&) { return Value::of(self<Sm>(n).nextXid()); },
          &TypeOf<std::uint32_t>::desc()),
      handle<Kiv::Clock>(
          21, "clockPoll",
          [](auto& n) -> Value {
            auto const& p = self<Sm>(n).clockPoll();
            return p ? orNone(p->notifier()) : Value();
          },
          [](auto& n, auto const& v) { self<Sm>(n).clockPollIs(Kiv::handleAs<Kiv::Clock>(v)); }),
      voidOperation<&Sm::doPoll>(22, "doPoll"),
      operation(23, "handleRegisterResult"),
      Kiv::instantiatingCollection(
          24, "registerVal", &RegisterVal::typeDesc(), &TypeOf<RegisterId>::desc(),
          {.params = {param<RegisterId>("id"), param<std::uint32_t>("dataSize"),
                      param<std::uint32_t>("validityCheckVal"),
                      param<std::uint32_t>("validityCheckMask")},
           .lookup = [](auto& n, auto const& k) -> Value {
             return orNone(self<Sm>(n).registerVal(k.template as<RegisterId>()));
           },
           .insert =
               [](auto& n, auto const& a) {
                 return Value::of(self<Sm>(n).registerValIs(
                     a[0].template as<RegisterId>(), a[1].template as<std::uint32_t>(),
                     a[2].template as<std::uint32_t>(), a[3].template as<std::uint32_t>()));
               },
           .del = [](auto& n, auto const& k) -> Value {
             return orNone(self<Sm>(n).registerValDel(k.template as<RegisterId>()));
           },
           .count = [](auto& n) { return self<Sm>(n).registerVals().size(); },
           .members = [](auto& n) { return membersOf(self<Sm>(n).registerVals()); }}),
      readWrite<&Sm::currentRegId, &Sm::currentRegIdIs>(25, "currentRegId"),
      handle<CpuIfMgr>(
          26, "cpuIfMgr", [](auto& n) { return orNone(self<Sm>(n).cpuIfMgr()); },
          [](auto& n, auto const& v) { self<Sm>(n).cpuIfMgrIs(Kiv::handleAs<CpuIfMgr>(v)); }),
      voidOperation<&Sm::start>(27, "start"),
      operation(28, "readLinkStatuses"),
      operation(29, "createRegVals"),
      operation(30, "readRegVals"),
      operation(31, "processLinkStatuses"),
      operation(32, "checkAuxCtrlReg",
                {param<std::uint8_t>("portId"), param<Lanx::IntfId>("intfId"),
                 param<std::string>("desc")}),
      operation(33, "writeRegVals"),
      operation(
          34, "writeRegister",
          {param<RegisterId>("id"), param<std::uint32_t>("value"), param<std::uint8_t>("size")}),
      Kiv::constant(35, "miiStatusRegister", Sm::miiStatusRegister),
      Kiv::constant(36, "miiStatusLinkEstabMask", Sm::miiStatusLinkEstabMask),
  };
  return t;
}

TypeDesc intfType(AgentTypes const& all) {
  auto t = Kiv::entityType("Bcm53134::Agent::IntfReactor");
  t.attrs = {
      handle<Interface::EthPhyIntfConfig>(
          1, "config", [](auto& n) { return orNone(self<IntfReactor>(n).config()); }),
      readOnly<&IntfReactor::name>(2, "name"),
      handleTo(&all.sm, 3, "agent", [](auto& n) { return orNone(self<IntfReactor>(n).agent()); }),
      voidOperation<&IntfReactor::handleState>(4, "handleState"),
  };
  return t;
}

TypeDesc sliceType(AgentTypes const& all) {
  using R = IntfSliceReactor;
  auto t = Kiv::entityType("Bcm53134::Agent::IntfSliceReactor");
  t.attrs = {
      handle<Interface::EthPhyIntfConfigDir>(
          1, "configDir", [](auto& n) { return orNone(self<R>(n).configDir()); }),
      readOnly<&R::name>(2, "name"),
      handleTo(&all.sm, 3, "agent", [](auto& n) { return orNone(self<R>(n).agent()); }),
      Kiv::instantiatingCollection(
          4, "intfReactor", &all.intf, &TypeOf<Lanx::IntfId>::desc(),
          {.params = {ParamDesc{"config", &Interface::EthPhyIntfConfig::typeDesc()},
                      ParamDesc{"agent", &all.sm}},
           .lookup = [](auto& n, auto const& k) -> Value {
             return orNone(self<R>(n).intfReactor(k.template as<Lanx::IntfId>()));
           },
           .insert =
               [](auto& n, auto const& a) {
                 return Value::of(self<R>(n).intfReactorIs(
                     Kiv::handleAs<Interface::EthPhyIntfConfig>(a[0]), Kiv::handleAs<Sm>(a[1])));
               },
           .del = [](auto& n, auto const& k) -> Value {
             return orNone(self<R>(n).intfReactorDel(k.template as<Lanx::IntfId>()));
           },
           .count = [](auto& n) { return self<R>(n).intfReactors().size(); }}),
      operation(5, "handleConfigDir", {param<Lanx::IntfId>("intfId")},
                [](auto& n, auto const& a) {
                  self<R>(n).handleConfigDir(a[0].template as<Lanx::IntfId>());
                  return Value();
                }),
  };
  return t;
}

TypeDesc rootType(AgentTypes const& all) {
  auto t = Kiv::entityType("Bcm53134::Agent::Root");
  t.attrs = {instantiatingHandle(
      1, "bcm53134Sm", &all.sm,
      {ParamDesc{"config", &Hardware::Bcm53134::Config::typeDesc()},
       ParamDesc{"status", &Hardware::Bcm53134::Status::typeDesc()},
       ParamDesc{"intfSliceDir", &Kiv::Dir::typeDesc()}},
      [](auto& n) { return orNone(self<Root>(n).bcm53134Sm()); },
      [](auto& n, auto const& a) {
        return Value::of(self<Root>(n).bcm53134SmIs(Kiv::handleAs<Hardware::Bcm53134::Config>(a[0]),
                                                    Kiv::handleAs<Hardware::Bcm53134::Status>(a[1]),
                                                    Kiv::handleAs<Kiv::Dir>(a[2])));
      },
      [](auto& n, auto const&) { return orNone(self<Root>(n).bcm53134SmDel()); })};
  // Printed by its name, which is the agent's, not an attribute.
  t.nameOf = [](Orba::Node const& n) { return self<Root>(n).name(); };
  auto const* nameType = &TypeOf<std::string>::desc();
  t.ctorParams = {ParamDesc{"name", nameType}};
  t.construct = [](std::vector<Value> const& a) {
    return Value::of(Root::RootIs(a[0].as<std::string>()));
  };
  t.dirCreate = [](std::string const& name, std::vector<Value> const& more) {
    if (!more.empty()) {
      Kiv::throwMutatorUnexpectedArguments("Bcm53134::Agent::Root", more.size() + 1, 1);
    }
    return Value::of(Root::RootIs(name));
  };
  return t;
}

}  // namespace

AgentTypes::AgentTypes() {
  // Built in place in this order; each table refers to the others by
  // address only.
  sm = smType(*this);
  slice = sliceType(*this);
  intf = intfType(*this);
  root = rootType(*this);
}

namespace {
Kiv::TypeModule const switchModule{&TypeOf<RegisterId>::desc(),
                                   &RegisterVal::typeDesc(),
                                   &IntfReactor::typeDesc(),
                                   &IntfSliceReactor::typeDesc(),
                                   &TypeOf<Bcm53134Sm::State>::desc(),
                                   &Bcm53134Sm::typeDesc(),
                                   &Root::typeDesc()};
}  // namespace

}  // namespace Bcm53134::Agent

Kiv::TypeDesc const& Kiv::TypeOf<Bcm53134::Agent::Bcm53134Sm::State>::desc() {
  static Kiv::TypeDesc const d =
      Kiv::enumType<Bcm53134::Agent::Bcm53134Sm::State>(Bcm53134::Agent::Bcm53134Sm::stateNames());
  return d;
}

// The library's C entry point for hosts (see AgentBase::kAgentRootFactorySymbol).
extern "C" __attribute__((visibility("default"))) AgentBase::CAgent* agentRootFactory(
    char const* name) {
  return Bcm53134::Agent::rootFactory(name ? name : "").release();
}

Kiv::TypeDesc const& Kiv::TypeOf<Bcm53134::Agent::RegisterId>::desc() {
  using Bcm53134::Agent::RegisterId;
  static constexpr char const* kTypeName = "Bcm53134::Agent::RegisterId";
  static Kiv::TypeDesc const d = [] {
    auto t = Kiv::valueType<RegisterId>(
        kTypeName,
        [](RegisterId const& id) {
          return Kiv::ValueTextWriter(kTypeName)
              .attr("page", id.page())
              .attr("addr", id.addr())
              .str();
        },
        [](std::string_view s) { return RegisterId::parse(s); });
    t.attrs = {Kiv::member<std::uint32_t>(1, "page"), Kiv::member<std::uint32_t>(2, "addr")};
    return t;
  }();
  return d;
}
