#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>

#include "platform/hardware/Ham.h"
#include "platform/kiv/Enum.h"
#include "platform/kiv/Typed.h"
#include "platform/lanx/IntfId.h"
#include "platform/orba/Publisher.h"

namespace Hardware::Bcm53134 {

// An 8-bit switch port number.
using PortId = std::uint8_t;

// A port's link status: 0 no link, 1 link.
enum class LinkStatus : std::uint8_t { linkDown = 0, linkUp = 1 };
std::ostream& operator<<(std::ostream& os, LinkStatus s);
Kiv::EnumNames const& linkStatusNames();

// One management interface of the appliance: its interface id, the name of
// its CPU netdevice (empty for none), and its external and internal switch
// ports.
class MgmtInterface : public Kiv::Typed<MgmtInterface> {
 public:
  static Orba::Ptr<MgmtInterface> MgmtInterfaceIs(Lanx::IntfId const& intfId,
                                                  Orba::String const& cpuIntfName,
                                                  PortId externalPort, PortId internalPort);
  Lanx::IntfId const& intfId() const noexcept { return intfId_; }
  Orba::String const& cpuIntfName() const noexcept { return cpuIntfName_; }
  PortId externalPort() const noexcept { return externalPort_; }
  PortId internalPort() const noexcept { return internalPort_; }

  static Kiv::TypeDesc const& typeDesc();

 private:
  MgmtInterface(Lanx::IntfId id, Orba::String cpu, PortId ext, PortId in)
      : intfId_(std::move(id)),
        cpuIntfName_(std::move(cpu)),
        externalPort_(ext),
        internalPort_(in) {}
  Lanx::IntfId intfId_;
  Orba::String cpuIntfName_;
  PortId externalPort_, internalPort_;
};

// The switch's hardware configuration. The management interfaces are keyed
// by a PortId that names the entry (its position in the appliance's list),
// not by one of its ports: two interfaces may share an external port, and two
// an internal one. A change of ham is notified under its own attribute id,
// distinct from changes of the bus selection and of the interfaces.
class Config : public Kiv::Typed<Config> {
 public:
  using MgmtInterfaces = std::map<PortId, Orba::Ptr<MgmtInterface>>;
  static Orba::Ptr<Config> ConfigIs();

  Orba::Ptr<Fru::Ham const> const& ham() const noexcept { return ham_; }
  void hamIs(Orba::Ptr<Fru::Ham const> const& ham);
  HalMdioAccel::BusBits busBits() const noexcept { return busBits_; }
  void busBitsIs(HalMdioAccel::BusBits bits);

  MgmtInterfaces const& mgmtInterfaces() const noexcept { return mgmtInterfaces_; }
  Orba::Ptr<MgmtInterface> mgmtInterface(PortId key) const;
  std::size_t mgmtInterfaceCount() const noexcept { return mgmtInterfaces_.size(); }
  void mgmtInterfaceIs(PortId key, Orba::Ptr<MgmtInterface> const& intf);
  Orba::Ptr<MgmtInterface> mgmtInterfaceDel(PortId key);

  Orba::Publisher* publisher() const override { return &publisher_; }
  static Kiv::AttributeId hamAttrId();
  static Kiv::AttributeId mgmtInterfaceAttrId();
  static Kiv::TypeDesc const& typeDesc();

 private:
  Config() = default;
  Orba::Ptr<Fru::Ham const> ham_;
  HalMdioAccel::BusBits busBits_ = 0;
  MgmtInterfaces mgmtInterfaces_;
  mutable Orba::Publisher publisher_;
};

// The published status of one port. A new port status has link status 0.
class PortStatus : public Kiv::Typed<PortStatus> {
 public:
  PortId portId() const noexcept { return portId_; }
  LinkStatus linkStatus() const noexcept { return linkStatus_; }
  // An unchanged value notifies nobody.
  void linkStatusIs(LinkStatus s);

  Orba::Publisher* publisher() const override { return &publisher_; }
  static Kiv::AttributeId linkStatusAttrId();
  static Kiv::TypeDesc const& typeDesc();

 private:
  friend class Status;
  PortStatus(PortId id, Orba::Publisher* parent) : portId_(id), parent_(parent) {}
  PortId portId_;
  LinkStatus linkStatus_ = LinkStatus::linkDown;
  Orba::Publisher* parent_;  // the owning status, told of every change
  mutable Orba::Publisher publisher_;
};

// The switch's hardware status, written by the agent: the error text and the
// link status of each port. Every change, including a port's link status, is
// notified on the status's publisher (the port's id as key for ports).
class Status : public Kiv::Typed<Status> {
 public:
  using Ports = std::map<PortId, Orba::Ptr<PortStatus>>;
  static Orba::Ptr<Status> StatusIs();

  Orba::String const& error() const noexcept { return error_; }
  // The empty text clears the error.
  void errorIs(Orba::String const& text);

  // The port's status, created on first use.
  Orba::Ptr<PortStatus> portIs(PortId id);
  Orba::Ptr<PortStatus> port(PortId id) const;
  Ports const& ports() const noexcept { return ports_; }
  void portDelAll();

  Orba::Publisher* publisher() const override { return &publisher_; }
  static Kiv::AttributeId errorAttrId();
  static Kiv::AttributeId portAttrId();
  static Kiv::TypeDesc const& typeDesc();

 private:
  Status() = default;
  ~Status() override;
  Orba::String error_;
  Ports ports_;
  mutable Orba::Publisher publisher_;
};

}  // namespace Hardware::Bcm53134

template <>
struct Kiv::TypeOf<Hardware::Bcm53134::LinkStatus> {
  static Kiv::TypeDesc const& desc();
};
