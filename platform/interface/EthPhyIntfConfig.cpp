#include "platform/interface/EthPhyIntfConfig.h"

#include <ostream>

#include "platform/kiv/Errors.h"

namespace Interface {

Kiv::EnumNames const& intfEnabledStateNames() {
  static Kiv::EnumNames const n{"Interface::IntfEnabledState",
                                {{0, "unknownEnabledState"}, {1, "enabled"}, {2, "disabled"}}};
  return n;
}

char const* stringValue(IntfEnabledState s) {
  auto const* n = intfEnabledStateNames().name(static_cast<std::uint8_t>(s));
  return n ? n : "invalidEnabledState";
}

std::ostream& operator<<(std::ostream& os, IntfEnabledState s) {
  return os << stringValue(s);
}

Orba::Ptr<EthPhyIntfConfig> EthPhyIntfConfig::EthPhyIntfConfigIs(Lanx::IntfId const& intfId,
                                                                 IntfEnabledState state) {
  return Orba::Ptr<EthPhyIntfConfig>::adopt(new EthPhyIntfConfig(intfId, state));
}

void EthPhyIntfConfig::enabledStateIs(IntfEnabledState s) {
  if (s == enabledState_)
    return;
  enabledState_ = s;
  publisher_.notify(enabledStateAttrId());
}

Kiv::AttributeId EthPhyIntfConfig::enabledStateAttrId() {
  static Kiv::AttributeId const id = typeDesc().attrId("enabledState");
  return id;
}

Kiv::TypeDesc const& EthPhyIntfConfig::typeDesc() {
  static Kiv::TypeDesc const d = [] {
    auto t = Kiv::entityType("Interface::EthPhyIntfConfig");
    Kiv::AttrDesc intfId;
    intfId.id = 270;
    intfId.name = "intfId";
    intfId.type = &Kiv::TypeOf<Lanx::IntfId>::desc();
    intfId.get = [](Orba::Node const& n) {
      return Kiv::Value::of(Kiv::self<EthPhyIntfConfig>(n).intfId());
    };
    Kiv::AttrDesc state;
    state.id = 271;
    state.name = "enabledState";
    state.type = &Kiv::TypeOf<IntfEnabledState>::desc();
    state.get = [](Orba::Node const& n) {
      return Kiv::Value::of(Kiv::self<EthPhyIntfConfig>(n).enabledState());
    };
    state.set = [](Orba::Node& n, Kiv::Value const& v) {
      Kiv::self<EthPhyIntfConfig>(n).enabledStateIs(v.as<IntfEnabledState>());
    };
    t.attrs = {intfId, state};
    return t;
  }();
  return d;
}
Kiv::TypeDesc const* EthPhyIntfConfig::typeData() const {
  return &typeDesc();
}

Orba::Ptr<EthPhyIntfConfigDir> EthPhyIntfConfigDir::EthPhyIntfConfigDirIs(
    Orba::String const& name) {
  return Orba::Ptr<EthPhyIntfConfigDir>::adopt(new EthPhyIntfConfigDir(name));
}

Orba::Ptr<EthPhyIntfConfig> EthPhyIntfConfigDir::intfConfig(Lanx::IntfId const& id) const {
  auto it = configs_.find(id);
  return it == configs_.end() ? Orba::Ptr<EthPhyIntfConfig>() : it->second;
}

void EthPhyIntfConfigDir::intfConfigIs(Orba::Ptr<EthPhyIntfConfig> const& config) {
  if (!config)
    Kiv::throwMutatorNullArgument("config", typeDesc().name, "intfConfig");
  auto& slot = configs_[config->intfId()];
  if (slot == config)
    return;
  slot = config;
  Lanx::IntfId key = config->intfId();
  publisher_.notify(intfConfigAttrId(), &key);
}

Orba::Ptr<EthPhyIntfConfig> EthPhyIntfConfigDir::intfConfigDel(Lanx::IntfId const& id) {
  auto it = configs_.find(id);
  if (it == configs_.end())
    return {};
  auto old = std::move(it->second);
  configs_.erase(it);
  Lanx::IntfId key = id;
  publisher_.notify(intfConfigAttrId(), &key);
  return old;
}

Kiv::AttributeId EthPhyIntfConfigDir::intfConfigAttrId() {
  static Kiv::AttributeId const id = typeDesc().attrId("intfConfig");
  return id;
}

Kiv::TypeDesc const& EthPhyIntfConfigDir::typeDesc() {
  static Kiv::TypeDesc const d = [] {
    auto t = Kiv::entityType("Interface::EthPhyIntfConfigDir");
    Kiv::AttrDesc name;
    name.id = 385;
    name.name = "name";
    name.type = &Kiv::TypeOf<std::string>::desc();
    name.get = [](Orba::Node const& n) {
      return Kiv::Value::of(Kiv::self<EthPhyIntfConfigDir>(n).name());
    };
    Kiv::AttrDesc configs;
    configs.id = 386;
    configs.name = "intfConfig";
    configs.kind = Kiv::AttrKind::collection;
    configs.type = &EthPhyIntfConfig::typeDesc();
    configs.keyType = &Kiv::TypeOf<Lanx::IntfId>::desc();
    configs.lookup = [](Orba::Node const& n, Kiv::Value const& key) {
      auto c = Kiv::self<EthPhyIntfConfigDir>(n).intfConfig(key.as<Lanx::IntfId>());
      return c ? Kiv::Value::of(c) : Kiv::Value();
    };
    configs.count = [](Orba::Node const& n) {
      return Kiv::self<EthPhyIntfConfigDir>(n).intfConfigs().size();
    };
    configs.members = [](Orba::Node const& n) {
      std::vector<std::pair<Kiv::Value, Kiv::Value>> r;
      for (auto const& [k, c] : Kiv::self<EthPhyIntfConfigDir>(n).intfConfigs()) {
        r.emplace_back(Kiv::Value::of(k), Kiv::Value::of(c));
      }
      return r;
    };
    t.attrs = {name, configs};
    return t;
  }();
  return d;
}
Kiv::TypeDesc const* EthPhyIntfConfigDir::typeData() const {
  return &typeDesc();
}

}  // namespace Interface

Kiv::TypeDesc const& Kiv::TypeOf<Interface::IntfEnabledState>::desc() {
  static Kiv::TypeDesc const d =
      Kiv::enumType<Interface::IntfEnabledState>(Interface::intfEnabledStateNames());
  return d;
}
