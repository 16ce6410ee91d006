// The switch side's type module: the attribute tables of its types, their
// registration when the library loads, and the library's C entry point.
#include "Bcm53X/Bcm53134Agent/IntfSliceReactor.h"
#include "Bcm53X/Bcm53134Agent/Root.h"
#include "Bcm53X/CpuIfMgr/CpuIfMgr.h"
#include "platform/kiv/Errors.h"
#include "platform/kiv/Trace.h"

namespace Bcm53134::Agent {

using Kiv::AttrDesc;
using Kiv::AttrKind;
using Kiv::ParamDesc;
using Kiv::self;
using Kiv::TypeDesc;
using Kiv::TypeOf;
using Kiv::Value;
using Sm = Bcm53134Sm;

namespace {

// Small builders so that each table below reads as a list of attributes.
AttrDesc operation(Kiv::AttributeId id, char const* name, std::vector<ParamDesc> params = {},
                   std::function<Value(Orba::Node&, std::vector<Value> const&)> call = nullptr) {
  return AttrDesc{.id = id,
                  .name = name,
                  .kind = AttrKind::operation,
                  .params = std::move(params),
                  .call = std::move(call)};
}

template <class Obj, void (Obj::*Op)()>
AttrDesc voidOperation(Kiv::AttributeId id, char const* name) {
  return operation(id, name, {}, [](Orba::Node& n, std::vector<Value> const&) {
    (self<Obj>(n).*Op)();
    return Value();
  });
}

template <class T>
ParamDesc param(char const* name) {
  return ParamDesc{name, &TypeOf<T>::desc()};
}

template <class T>
AttrDesc readOnly(Kiv::AttributeId id, char const* name,
                  std::function<Value(Orba::Node const&)> get) {
  return AttrDesc{.id = id, .name = name, .type = &TypeOf<T>::desc(), .get = std::move(get)};
}

template <class T>
AttrDesc readWrite(Kiv::AttributeId id, char const* name,
                   std::function<Value(Orba::Node const&)> get,
                   std::function<void(Orba::Node&, Value const&)> set) {
  return AttrDesc{.id = id,
                  .name = name,
                  .type = &TypeOf<T>::desc(),
                  .get = std::move(get),
                  .set = std::move(set)};
}

AttrDesc handleTo(TypeDesc const* type, Kiv::AttributeId id, char const* name,
                  std::function<Value(Orba::Node const&)> get) {
  return AttrDesc{
      .id = id, .name = name, .kind = AttrKind::handle, .type = type, .get = std::move(get)};
}

template <class E>
AttrDesc handle(Kiv::AttributeId id, char const* name,
                std::function<Value(Orba::Node const&)> get) {
  return handleTo(&E::typeDesc(), id, name, std::move(get));
}

template <class Map>
std::vector<std::pair<Value, Value>> membersOf(Map const& m) {
  std::vector<std::pair<Value, Value>> r;
  for (auto const& [k, v] : m)
    r.emplace_back(Value::of(k), Value::of(v));
  return r;
}

// An instantiating handle attribute of the machine: read, create with the
// given arguments, delete.
AttrDesc instantiatingHandle(Kiv::AttributeId id, char const* name, TypeDesc const* type,
                             std::vector<ParamDesc> params,
                             std::function<Value(Orba::Node const&)> get,
                             std::function<Value(Orba::Node&, std::vector<Value> const&)> insert,
                             std::function<Value(Orba::Node&, Value const&)> del) {
  return AttrDesc{.id = id,
                  .name = name,
                  .kind = AttrKind::instantiating,
                  .type = type,
                  .params = std::move(params),
                  .get = std::move(get),
                  .insert = std::move(insert),
                  .del = std::move(del)};
}

Value optional(auto const& ptr) {
  return ptr ? Value::of(ptr) : Value();
}

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
TypeDesc const* Sm::typeData() const {
  return &typeDesc();
}
TypeDesc const& IntfReactor::typeDesc() {
  return agentTypes().intf;
}
TypeDesc const* IntfReactor::typeData() const {
  return &typeDesc();
}
TypeDesc const& IntfSliceReactor::typeDesc() {
  return agentTypes().slice;
}
TypeDesc const* IntfSliceReactor::typeData() const {
  return &typeDesc();
}
TypeDesc const& Root::typeDesc() {
  return agentTypes().root;
}
TypeDesc const* Root::typeData() const {
  return &typeDesc();
}

namespace {

TypeDesc smType(AgentTypes const& all) {
  {
    using Config = Hardware::Bcm53134::Config;
    using Status = Hardware::Bcm53134::Status;
    auto t = Kiv::entityType("Bcm53134::Agent::Bcm53134Sm");
    auto const* u8 = &TypeOf<std::uint8_t>::desc();
    t.attrs = {
        handle<Config>(1, "config", [](auto& n) { return optional(self<Sm>(n).config()); }),
        handle<Status>(2, "status", [](auto& n) { return optional(self<Sm>(n).status()); }),
        handle<Kiv::Dir>(3, "intfSliceDir",
                         [](auto& n) { return optional(self<Sm>(n).intfSliceDir()); }),
        voidOperation<Sm, &Sm::handleConfig>(4, "handleConfig"),
        instantiatingHandle(
            5, "registerConfig", &MdioRegLib::Config::typeDesc(), {param<std::string>("name")},
            [](auto& n) { return optional(self<Sm>(n).registerConfig()); },
            [](auto& n, auto const& a) {
              return Value::of(self<Sm>(n).registerConfigIs(a[0].template as<std::string>()));
            },
            [](auto& n, auto const&) { return optional(self<Sm>(n).registerConfigDel()); }),
        instantiatingHandle(
            6, "registerStatus", &MdioRegLib::Status::typeDesc(), {param<std::string>("name")},
            [](auto& n) { return optional(self<Sm>(n).registerStatus()); },
            [](auto& n, auto const& a) {
              return Value::of(self<Sm>(n).registerStatusIs(a[0].template as<std::string>()));
            },
            [](auto& n, auto const&) { return optional(self<Sm>(n).registerStatusDel()); }),
        instantiatingHandle(
            7, "registerSm", &MdioRegLib::RegisterSm::typeDesc(),
            {ParamDesc{"accel", &HalMdioAccel::Accel::typeDesc()},
             ParamDesc{"config", &MdioRegLib::Config::typeDesc()},
             ParamDesc{"status", &MdioRegLib::Status::typeDesc()}},
            [](auto& n) { return optional(self<Sm>(n).registerSm()); },
            [](auto& n, auto const& a) {
              return Value::of(self<Sm>(n).registerSmIs(Kiv::handleAs<HalMdioAccel::Accel>(a[0]),
                                                        Kiv::handleAs<MdioRegLib::Config>(a[1]),
                                                        Kiv::handleAs<MdioRegLib::Status>(a[2])));
            },
            [](auto& n, auto const&) { return optional(self<Sm>(n).registerSmDel()); }),
        voidOperation<Sm, &Sm::createRegisterSm>(8, "createRegisterSm"),
        voidOperation<Sm, &Sm::initialize>(9, "initialize"),
        readWrite<Sm::State>(
            10, "state", [](auto& n) { return Value::of(self<Sm>(n).state()); },
            [](auto& n, auto const& v) {
              // A number that is no state would leave the poll without a step.
              auto const s = static_cast<std::uint8_t>(v.template as<Sm::State>());
              self<Sm>(n).stateIs(static_cast<Sm::State>(Sm::stateNames().checked(s)));
            }),
        voidOperation<Sm, &Sm::handleState>(11, "handleState"),
        readWrite<double>(
            12, "stateEntry", [](auto& n) { return Value::of(self<Sm>(n).stateEntry()); },
            [](auto& n, auto const& v) { self<Sm>(n).stateEntryIs(v.template as<double>()); }),
        readWrite<bool>(
            13, "repollingNeeded", [](auto& n) { return Value::of(self<Sm>(n).repollingNeeded()); },
            [](auto& n, auto const& v) { self<Sm>(n).repollingNeededIs(v.template as<bool>()); }),
        AttrDesc{
            .id = 14,
            .name = "externalId",
            .kind = AttrKind::collection,
            .type = u8,
            .keyType = u8,
            .params = {param<std::uint8_t>("internalPort"), param<std::uint8_t>("externalPort")},
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
            .members = [](auto& n) { return membersOf(self<Sm>(n).externalIds()); }},
        AttrDesc{.id = 15,
                 .name = "intfSliceReactor",
                 .kind = AttrKind::instantiating,
                 .type = &all.slice,
                 .keyType = &TypeOf<std::string>::desc(),
                 .params = {ParamDesc{"configDir", &Interface::EthPhyIntfConfigDir::typeDesc()},
                            ParamDesc{"agent", &all.sm}},
                 .lookup = [](auto& n, auto const& k) -> Value {
                   return optional(self<Sm>(n).intfSliceReactor(k.template as<std::string>()));
                 },
                 .insert =
                     [](auto& n, auto const& a) {
                       return Value::of(self<Sm>(n).intfSliceReactorIs(
                           Kiv::handleAs<Interface::EthPhyIntfConfigDir>(a[0]),
                           Kiv::handleAs<Sm>(a[1])));
                     },
                 .del = [](auto& n, auto const& k) -> Value {
                   return optional(self<Sm>(n).intfSliceReactorDel(k.template as<std::string>()));
                 },
                 .count = [](auto& n) { return self<Sm>(n).intfSliceReactors().size(); },
                 .members = [](auto& n) { return membersOf(self<Sm>(n).intfSliceReactors()); }},
        operation(16, "handleSlice", {param<std::string>("name")},
                  [](auto& n, auto const& a) {
                    self<Sm>(n).handleSlice(a[0].template as<std::string>());
                    return Value();
                  }),
        AttrDesc{.id = 17,
                 .name = "intfState",
                 .kind = AttrKind::collection,
                 .type = &TypeOf<Interface::IntfEnabledState>::desc(),
                 .keyType = &TypeOf<Lanx::IntfId>::desc(),
                 .params = {param<Lanx::IntfId>("intfId"),
                            param<Interface::IntfEnabledState>("enabledState")},
                 .lookup = [](auto& n, auto const& k) -> Value {
                   auto const& m = self<Sm>(n).intfStates();
                   auto it = m.find(k.template as<Lanx::IntfId>());
                   return it == m.end() ? Value() : Value::of(it->second);
                 },
                 .insert =
                     [](auto& n, auto const& a) {
                       self<Sm>(n).intfStateIs(a[0].template as<Lanx::IntfId>(),
                                               a[1].template as<Interface::IntfEnabledState>());
                       return a[1];
                     },
                 .del =
                     [](auto& n, auto const& k) {
                       self<Sm>(n).intfStateDel(k.template as<Lanx::IntfId>());
                       return Value();
                     },
                 .count = [](auto& n) { return self<Sm>(n).intfStates().size(); },
                 .members = [](auto& n) { return membersOf(self<Sm>(n).intfStates()); }},
        readWrite<double>(
            18, "pollPeriod", [](auto& n) { return Value::of(self<Sm>(n).pollPeriod()); },
            [](auto& n, auto const& v) { self<Sm>(n).pollPeriodIs(pollPeriodChecked(v)); }),
        readWrite<std::uint32_t>(
            19, "xid", [](auto& n) { return Value::of(self<Sm>(n).xid()); },
            [](auto& n, auto const& v) { self<Sm>(n).xidIs(v.template as<std::uint32_t>()); }),
        AttrDesc{.id = 20,
                 .name = "nextXid",
                 .kind = AttrKind::operation,
                 .type = &TypeOf<std::uint32_t>::desc(),
                 .call = [](auto& n, auto const&) { return Value::of(self<Sm>(n).nextXid()); }},
        AttrDesc{
            .id = 21,
            .name = "clockPoll",
            .kind = AttrKind::handle,
            .type = &Kiv::Clock::typeDesc(),
            .get = [](auto& n) -> Value {
              auto const& p = self<Sm>(n).clockPoll();
              return p ? optional(p->notifier()) : Value();
            },
            .set = [](auto& n,
                      auto const& v) { self<Sm>(n).clockPollIs(Kiv::handleAs<Kiv::Clock>(v)); }},
        voidOperation<Sm, &Sm::doPoll>(22, "doPoll"),
        operation(23, "handleRegisterResult"),
        AttrDesc{.id = 24,
                 .name = "registerVal",
                 .kind = AttrKind::instantiating,
                 .type = &RegisterVal::typeDesc(),
                 .keyType = &TypeOf<RegisterId>::desc(),
                 .params = {param<RegisterId>("id"), param<std::uint32_t>("dataSize"),
                            param<std::uint32_t>("validityCheckVal"),
                            param<std::uint32_t>("validityCheckMask")},
                 .lookup = [](auto& n, auto const& k) -> Value {
                   return optional(self<Sm>(n).registerVal(k.template as<RegisterId>()));
                 },
                 .insert =
                     [](auto& n, auto const& a) {
                       return Value::of(self<Sm>(n).registerValIs(
                           a[0].template as<RegisterId>(), a[1].template as<std::uint32_t>(),
                           a[2].template as<std::uint32_t>(), a[3].template as<std::uint32_t>()));
                     },
                 .del = [](auto& n, auto const& k) -> Value {
                   return optional(self<Sm>(n).registerValDel(k.template as<RegisterId>()));
                 },
                 .count = [](auto& n) { return self<Sm>(n).registerVals().size(); },
                 .members = [](auto& n) { return membersOf(self<Sm>(n).registerVals()); }},
        readWrite<RegisterId>(
            25, "currentRegId", [](auto& n) { return Value::of(self<Sm>(n).currentRegId()); },
            [](auto& n, auto const& v) {
              self<Sm>(n).currentRegIdIs(v.template as<RegisterId>());
            }),
        AttrDesc{.id = 26,
                 .name = "cpuIfMgr",
                 .kind = AttrKind::handle,
                 .type = &CpuIfMgr::typeDesc(),
                 .get = [](auto& n) { return optional(self<Sm>(n).cpuIfMgr()); },
                 .set = [](auto& n,
                           auto const& v) { self<Sm>(n).cpuIfMgrIs(Kiv::handleAs<CpuIfMgr>(v)); }},
        voidOperation<Sm, &Sm::start>(27, "start"),
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
        AttrDesc{.id = 35,
                 .name = "miiStatusRegister",
                 .kind = AttrKind::constant,
                 .type = &TypeOf<std::uint32_t>::desc(),
                 .get = [](auto&) { return Value::of(Sm::miiStatusRegister); }},
        AttrDesc{.id = 36,
                 .name = "miiStatusLinkEstabMask",
                 .kind = AttrKind::constant,
                 .type = &TypeOf<std::uint32_t>::desc(),
                 .get = [](auto&) { return Value::of(Sm::miiStatusLinkEstabMask); }},
    };
    return t;
  }
}

TypeDesc intfType(AgentTypes const& all) {
  {
    auto t = Kiv::entityType("Bcm53134::Agent::IntfReactor");
    t.attrs = {
        handle<Interface::EthPhyIntfConfig>(
            1, "config", [](auto& n) { return optional(self<IntfReactor>(n).config()); }),
        readOnly<Lanx::IntfId>(2, "name",
                               [](auto& n) { return Value::of(self<IntfReactor>(n).name()); }),
        handleTo(&all.sm, 3, "agent",
                 [](auto& n) { return optional(self<IntfReactor>(n).agent()); }),
        voidOperation<IntfReactor, &IntfReactor::handleState>(4, "handleState"),
    };
    return t;
  }
}

TypeDesc sliceType(AgentTypes const& all) {
  {
    using R = IntfSliceReactor;
    auto t = Kiv::entityType("Bcm53134::Agent::IntfSliceReactor");
    t.attrs = {
        handle<Interface::EthPhyIntfConfigDir>(
            1, "configDir", [](auto& n) { return optional(self<R>(n).configDir()); }),
        readOnly<std::string>(2, "name", [](auto& n) { return Value::of(self<R>(n).name()); }),
        handleTo(&all.sm, 3, "agent", [](auto& n) { return optional(self<R>(n).agent()); }),
        AttrDesc{.id = 4,
                 .name = "intfReactor",
                 .kind = AttrKind::instantiating,
                 .type = &all.intf,
                 .keyType = &TypeOf<Lanx::IntfId>::desc(),
                 .params = {ParamDesc{"config", &Interface::EthPhyIntfConfig::typeDesc()},
                            ParamDesc{"agent", &all.sm}},
                 .lookup = [](auto& n, auto const& k) -> Value {
                   return optional(self<R>(n).intfReactor(k.template as<Lanx::IntfId>()));
                 },
                 .insert =
                     [](auto& n, auto const& a) {
                       return Value::of(self<R>(n).intfReactorIs(
                           Kiv::handleAs<Interface::EthPhyIntfConfig>(a[0]),
                           Kiv::handleAs<Sm>(a[1])));
                     },
                 .del = [](auto& n, auto const& k) -> Value {
                   return optional(self<R>(n).intfReactorDel(k.template as<Lanx::IntfId>()));
                 },
                 .count = [](auto& n) { return self<R>(n).intfReactors().size(); }},
        operation(5, "handleConfigDir", {param<Lanx::IntfId>("intfId")},
                  [](auto& n, auto const& a) {
                    self<R>(n).handleConfigDir(a[0].template as<Lanx::IntfId>());
                    return Value();
                  }),
    };
    return t;
  }
}

TypeDesc rootType(AgentTypes const& all) {
  {
    auto t = Kiv::entityType("Bcm53134::Agent::Root");
    t.attrs = {AttrDesc{
        .id = 1,
        .name = "bcm53134Sm",
        .kind = AttrKind::instantiating,
        .type = &all.sm,
        .params = {ParamDesc{"config", &Hardware::Bcm53134::Config::typeDesc()},
                   ParamDesc{"status", &Hardware::Bcm53134::Status::typeDesc()},
                   ParamDesc{"intfSliceDir", &Kiv::Dir::typeDesc()}},
        .get = [](auto& n) { return optional(self<Root>(n).bcm53134Sm()); },
        .insert =
            [](auto& n, auto const& a) {
              return Value::of(self<Root>(n).bcm53134SmIs(
                  Kiv::handleAs<Hardware::Bcm53134::Config>(a[0]),
                  Kiv::handleAs<Hardware::Bcm53134::Status>(a[1]), Kiv::handleAs<Kiv::Dir>(a[2])));
            },
        .del = [](auto& n, auto const&) { return optional(self<Root>(n).bcm53134SmDel()); }}};
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
