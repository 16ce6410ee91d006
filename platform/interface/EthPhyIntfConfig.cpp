#include "platform/interface/EthPhyIntfConfig.h"

#include "platform/kiv/AttrTable.h"

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
    using C = EthPhyIntfConfig;
    t.attrs = {Kiv::readOnly<&C::intfId>(270, "intfId"),
               Kiv::readWrite<&C::enabledState, &C::enabledStateIs>(271, "enabledState")};
    return t;
  }();
  return d;
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
    using D = EthPhyIntfConfigDir;
    t.attrs = {
        Kiv::readOnly<&D::name>(385, "name"),
        Kiv::collection(
            386, "intfConfig", &EthPhyIntfConfig::typeDesc(), &Kiv::TypeOf<Lanx::IntfId>::desc(),
            {.lookup =
                 [](Orba::Node const& n, Kiv::Value const& key) {
                   return Kiv::orNone(Kiv::self<D>(n).intfConfig(key.as<Lanx::IntfId>()));
                 },
             .count = [](Orba::Node const& n) { return Kiv::self<D>(n).intfConfigs().size(); },
             .members =
                 [](Orba::Node const& n) {
                   return Kiv::membersOf(Kiv::self<D>(n).intfConfigs());
                 }})};
    return t;
  }();
  return d;
}

}  // namespace Interface

Kiv::TypeDesc const& Kiv::TypeOf<Interface::IntfEnabledState>::desc() {
  static Kiv::TypeDesc const d =
      Kiv::enumType<Interface::IntfEnabledState>(Interface::intfEnabledStateNames());
  return d;
}
