#include "platform/hardware/Bcm53134.h"

#include "platform/kiv/AttrTable.h"

#include <ostream>

#include "platform/kiv/Errors.h"

namespace Hardware::Bcm53134 {

using Kiv::readOnly;
using Kiv::self;
using Kiv::TypeDesc;
using Kiv::TypeOf;
using Kiv::Value;

Kiv::EnumNames const& linkStatusNames() {
  static Kiv::EnumNames const n{"Hardware::Bcm53134::LinkStatus", {{0, "linkDown"}, {1, "linkUp"}}};
  return n;
}

std::ostream& operator<<(std::ostream& os, LinkStatus s) {
  auto const* n = linkStatusNames().name(static_cast<std::uint8_t>(s));
  if (n)
    return os << n;
  return os << static_cast<unsigned>(s);
}

// MgmtInterface

Orba::Ptr<MgmtInterface> MgmtInterface::MgmtInterfaceIs(Lanx::IntfId const& intfId,
                                                        Orba::String const& cpuIntfName,
                                                        PortId externalPort, PortId internalPort) {
  return Orba::Ptr<MgmtInterface>::adopt(
      new MgmtInterface(intfId, cpuIntfName, externalPort, internalPort));
}

TypeDesc const& MgmtInterface::typeDesc() {
  static TypeDesc const d = [] {
    auto t = Kiv::entityType("Hardware::Bcm53134::MgmtInterface");
    using M = MgmtInterface;
    t.attrs = {readOnly<&M::intfId>(290, "intfId"), readOnly<&M::cpuIntfName>(291, "cpuIntfName"),
               readOnly<&M::externalPort>(292, "externalPort"),
               readOnly<&M::internalPort>(293, "internalPort")};
    return t;
  }();
  return d;
}

// Config

Orba::Ptr<Config> Config::ConfigIs() {
  return Orba::Ptr<Config>::adopt(new Config());
}

void Config::hamIs(Orba::Ptr<Fru::Ham const> const& ham) {
  if (ham == ham_)
    return;
  ham_ = ham;
  publisher_.notify(hamAttrId());
}

void Config::busBitsIs(HalMdioAccel::BusBits bits) {
  if (bits == busBits_)
    return;
  busBits_ = bits;
  publisher_.notify(typeDesc().attrId("busBits"));
}

Orba::Ptr<MgmtInterface> Config::mgmtInterface(PortId key) const {
  auto it = mgmtInterfaces_.find(key);
  return it == mgmtInterfaces_.end() ? Orba::Ptr<MgmtInterface>() : it->second;
}

void Config::mgmtInterfaceIs(PortId key, Orba::Ptr<MgmtInterface> const& intf) {
  if (!intf)
    Kiv::throwMutatorNullArgument("intf", typeDesc().name, "mgmtInterface");
  auto& slot = mgmtInterfaces_[key];
  if (slot == intf)
    return;
  slot = intf;
  publisher_.notify(mgmtInterfaceAttrId(), &key);
}

Orba::Ptr<MgmtInterface> Config::mgmtInterfaceDel(PortId key) {
  auto it = mgmtInterfaces_.find(key);
  if (it == mgmtInterfaces_.end())
    return {};
  auto old = std::move(it->second);
  mgmtInterfaces_.erase(it);
  publisher_.notify(mgmtInterfaceAttrId(), &key);
  return old;
}

Kiv::AttributeId Config::hamAttrId() {
  static Kiv::AttributeId const id = typeDesc().attrId("ham");
  return id;
}
Kiv::AttributeId Config::mgmtInterfaceAttrId() {
  static Kiv::AttributeId const id = typeDesc().attrId("mgmtInterface");
  return id;
}

TypeDesc const& Config::typeDesc() {
  static TypeDesc const d = [] {
    auto t = Kiv::entityType("Hardware::Bcm53134::Config");
    t.attrs = {
        Kiv::handle<Fru::Ham>(258, "ham",
                              [](Orba::Node const& n) { return Value::of(self<Config>(n).ham()); }),
        readOnly<&Config::busBits>(259, "busBits"),
        Kiv::collection(
            260, "mgmtInterface", &MgmtInterface::typeDesc(), &TypeOf<PortId>::desc(),
            {.lookup =
                 [](Orba::Node const& n, Value const& key) {
                   return Kiv::orNone(self<Config>(n).mgmtInterface(key.as<PortId>()));
                 },
             .count = [](Orba::Node const& n) { return self<Config>(n).mgmtInterfaceCount(); },
             .members =
                 [](Orba::Node const& n) {
                   return Kiv::membersOf(self<Config>(n).mgmtInterfaces());
                 }})};
    return t;
  }();
  return d;
}

// PortStatus

void PortStatus::linkStatusIs(LinkStatus s) {
  if (s == linkStatus_)
    return;
  linkStatus_ = s;
  publisher_.notify(linkStatusAttrId());
  if (parent_)
    parent_->notify(Status::portAttrId(), &portId_);
}

Kiv::AttributeId PortStatus::linkStatusAttrId() {
  static Kiv::AttributeId const id = typeDesc().attrId("linkStatus");
  return id;
}

TypeDesc const& PortStatus::typeDesc() {
  static TypeDesc const d = [] {
    auto t = Kiv::entityType("Hardware::Bcm53134::PortStatus");
    t.attrs = {readOnly<&PortStatus::portId>(300, "portId"),
               readOnly<&PortStatus::linkStatus>(301, "linkStatus")};
    return t;
  }();
  return d;
}

// Status

Orba::Ptr<Status> Status::StatusIs() {
  return Orba::Ptr<Status>::adopt(new Status());
}

Status::~Status() {
  for (auto& [id, p] : ports_)
    p->parent_ = nullptr;
}

void Status::errorIs(Orba::String const& text) {
  if (text == error_)
    return;
  error_ = text;
  publisher_.notify(errorAttrId());
}

Orba::Ptr<PortStatus> Status::portIs(PortId id) {
  auto it = ports_.find(id);
  if (it != ports_.end())
    return it->second;
  auto p = Orba::Ptr<PortStatus>::adopt(new PortStatus(id, &publisher_));
  ports_.emplace(id, p);
  publisher_.notify(portAttrId(), &id);
  return p;
}

Orba::Ptr<PortStatus> Status::port(PortId id) const {
  auto it = ports_.find(id);
  return it == ports_.end() ? Orba::Ptr<PortStatus>() : it->second;
}

void Status::portDelAll() {
  while (!ports_.empty()) {
    auto it = ports_.begin();
    PortId id = it->first;
    it->second->parent_ = nullptr;
    ports_.erase(it);
    publisher_.notify(portAttrId(), &id);
  }
}

Kiv::AttributeId Status::errorAttrId() {
  static Kiv::AttributeId const id = typeDesc().attrId("error");
  return id;
}
Kiv::AttributeId Status::portAttrId() {
  static Kiv::AttributeId const id = typeDesc().attrId("port");
  return id;
}

TypeDesc const& Status::typeDesc() {
  static TypeDesc const d = [] {
    auto t = Kiv::entityType("Hardware::Bcm53134::Status");
    t.attrs = {
        readOnly<&Status::error>(310, "error"),
        Kiv::collection(
            311, "port", &PortStatus::typeDesc(), &TypeOf<PortId>::desc(),
            {.lookup =
                 [](Orba::Node const& n, Value const& key) {
                   return Kiv::orNone(self<Status>(n).port(key.as<PortId>()));
                 },
             .count = [](Orba::Node const& n) { return self<Status>(n).ports().size(); },
             .members =
                 [](Orba::Node const& n) { return Kiv::membersOf(self<Status>(n).ports()); }})};
    return t;
  }();
  return d;
}

}  // namespace Hardware::Bcm53134

Kiv::TypeDesc const& Kiv::TypeOf<Hardware::Bcm53134::LinkStatus>::desc() {
  static Kiv::TypeDesc const d =
      Kiv::enumType<Hardware::Bcm53134::LinkStatus>(Hardware::Bcm53134::linkStatusNames());
  return d;
}
