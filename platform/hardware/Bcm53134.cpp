#include "platform/hardware/Bcm53134.h"

#include <ostream>

#include "platform/kiv/Errors.h"

namespace Hardware::Bcm53134 {

using Kiv::AttrDesc;
using Kiv::AttrKind;
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
    AttrDesc intfId{.id = 290, .name = "intfId", .type = &TypeOf<Lanx::IntfId>::desc()};
    intfId.get = [](Orba::Node const& n) { return Value::of(self<MgmtInterface>(n).intfId()); };
    AttrDesc cpu{.id = 291, .name = "cpuIntfName", .type = &TypeOf<std::string>::desc()};
    cpu.get = [](Orba::Node const& n) { return Value::of(self<MgmtInterface>(n).cpuIntfName()); };
    AttrDesc ext{.id = 292, .name = "externalPort", .type = &TypeOf<PortId>::desc()};
    ext.get = [](Orba::Node const& n) { return Value::of(self<MgmtInterface>(n).externalPort()); };
    AttrDesc in{.id = 293, .name = "internalPort", .type = &TypeOf<PortId>::desc()};
    in.get = [](Orba::Node const& n) { return Value::of(self<MgmtInterface>(n).internalPort()); };
    t.attrs = {intfId, cpu, ext, in};
    return t;
  }();
  return d;
}
TypeDesc const* MgmtInterface::typeData() const {
  return &typeDesc();
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
    AttrDesc ham{.id = 258, .name = "ham", .kind = AttrKind::handle, .type = &Fru::Ham::typeDesc()};
    ham.get = [](Orba::Node const& n) { return Value::of(self<Config>(n).ham()); };
    AttrDesc bus{.id = 259, .name = "busBits", .type = &TypeOf<HalMdioAccel::BusBits>::desc()};
    bus.get = [](Orba::Node const& n) { return Value::of(self<Config>(n).busBits()); };
    AttrDesc intfs{.id = 260,
                   .name = "mgmtInterface",
                   .kind = AttrKind::collection,
                   .type = &MgmtInterface::typeDesc(),
                   .keyType = &TypeOf<PortId>::desc()};
    intfs.lookup = [](Orba::Node const& n, Value const& key) {
      auto m = self<Config>(n).mgmtInterface(key.as<PortId>());
      return m ? Value::of(m) : Value();
    };
    intfs.count = [](Orba::Node const& n) { return self<Config>(n).mgmtInterfaceCount(); };
    intfs.members = [](Orba::Node const& n) {
      std::vector<std::pair<Value, Value>> r;
      for (auto const& [k, m] : self<Config>(n).mgmtInterfaces()) {
        r.emplace_back(Value::of(k), Value::of(m));
      }
      return r;
    };
    t.attrs = {ham, bus, intfs};
    return t;
  }();
  return d;
}
TypeDesc const* Config::typeData() const {
  return &typeDesc();
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
    AttrDesc port{.id = 300, .name = "portId", .type = &TypeOf<PortId>::desc()};
    port.get = [](Orba::Node const& n) { return Value::of(self<PortStatus>(n).portId()); };
    AttrDesc link{.id = 301, .name = "linkStatus", .type = &TypeOf<LinkStatus>::desc()};
    link.get = [](Orba::Node const& n) { return Value::of(self<PortStatus>(n).linkStatus()); };
    t.attrs = {port, link};
    return t;
  }();
  return d;
}
TypeDesc const* PortStatus::typeData() const {
  return &typeDesc();
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
    AttrDesc error{.id = 310, .name = "error", .type = &TypeOf<std::string>::desc()};
    error.get = [](Orba::Node const& n) { return Value::of(self<Status>(n).error()); };
    AttrDesc port{.id = 311,
                  .name = "port",
                  .kind = AttrKind::collection,
                  .type = &PortStatus::typeDesc(),
                  .keyType = &TypeOf<PortId>::desc()};
    port.lookup = [](Orba::Node const& n, Value const& key) {
      auto p = self<Status>(n).port(key.as<PortId>());
      return p ? Value::of(p) : Value();
    };
    port.count = [](Orba::Node const& n) { return self<Status>(n).ports().size(); };
    port.members = [](Orba::Node const& n) {
      std::vector<std::pair<Value, Value>> r;
      for (auto const& [k, p] : self<Status>(n).ports())
        r.emplace_back(Value::of(k), Value::of(p));
      return r;
    };
    t.attrs = {error, port};
    return t;
  }();
  return d;
}
TypeDesc const* Status::typeData() const {
  return &typeDesc();
}

}  // namespace Hardware::Bcm53134

Kiv::TypeDesc const& Kiv::TypeOf<Hardware::Bcm53134::LinkStatus>::desc() {
  static Kiv::TypeDesc const d =
      Kiv::enumType<Hardware::Bcm53134::LinkStatus>(Hardware::Bcm53134::linkStatusNames());
  return d;
}
