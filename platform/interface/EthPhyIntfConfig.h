#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>

#include "platform/kiv/Enum.h"
#include "platform/kiv/Typed.h"
#include "platform/lanx/IntfId.h"
#include "platform/orba/Publisher.h"

namespace Interface {

// An interface's administrative enabled state.
enum class IntfEnabledState : std::uint8_t {
  unknownEnabledState = 0,
  enabled = 1,
  disabled = 2,
};
char const* stringValue(IntfEnabledState s);
std::ostream& operator<<(std::ostream& os, IntfEnabledState s);
Kiv::EnumNames const& intfEnabledStateNames();

// The configuration of one Ethernet PHY interface. A change of the enabled
// state is notified (an unchanged value notifies nobody).
class EthPhyIntfConfig : public Kiv::Typed<EthPhyIntfConfig> {
 public:
  static Orba::Ptr<EthPhyIntfConfig> EthPhyIntfConfigIs(Lanx::IntfId const& intfId,
                                                        IntfEnabledState state);

  Lanx::IntfId const& intfId() const noexcept { return intfId_; }
  IntfEnabledState enabledState() const noexcept { return enabledState_; }
  void enabledStateIs(IntfEnabledState s);

  Orba::Publisher* publisher() const override { return &publisher_; }
  static Kiv::AttributeId enabledStateAttrId();
  static Kiv::TypeDesc const& typeDesc();

 private:
  EthPhyIntfConfig(Lanx::IntfId id, IntfEnabledState s)
      : intfId_(std::move(id)), enabledState_(s) {}
  Lanx::IntfId intfId_;
  IntfEnabledState enabledState_;
  mutable Orba::Publisher publisher_;
};

// One slice's interface configurations, keyed by interface id. Adding,
// replacing and removing a configuration notifies the collection with the
// interface id as key.
class EthPhyIntfConfigDir : public Kiv::Typed<EthPhyIntfConfigDir> {
 public:
  using Configs = std::map<Lanx::IntfId, Orba::Ptr<EthPhyIntfConfig>>;
  static Orba::Ptr<EthPhyIntfConfigDir> EthPhyIntfConfigDirIs(Orba::String const& name);

  Orba::String const& name() const noexcept { return name_; }
  Orba::Ptr<EthPhyIntfConfig> intfConfig(Lanx::IntfId const& id) const;
  Configs const& intfConfigs() const noexcept { return configs_; }
  void intfConfigIs(Orba::Ptr<EthPhyIntfConfig> const& config);
  Orba::Ptr<EthPhyIntfConfig> intfConfigDel(Lanx::IntfId const& id);

  Orba::Publisher* publisher() const override { return &publisher_; }
  static Kiv::AttributeId intfConfigAttrId();
  static Kiv::TypeDesc const& typeDesc();

 private:
  explicit EthPhyIntfConfigDir(Orba::String name) : name_(std::move(name)) {}
  Orba::String name_;
  Configs configs_;
  mutable Orba::Publisher publisher_;
};

}  // namespace Interface

template <>
struct Kiv::TypeOf<Interface::IntfEnabledState> {
  static Kiv::TypeDesc const& desc();
};
