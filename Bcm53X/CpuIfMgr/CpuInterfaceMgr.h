#pragma once

#include <vector>

#include "Bcm53X/CpuIfMgr/CpuIfMgr.h"
#include "Bcm53X/CpuIfMgr/CpuInterfaceCollection.h"
#include "platform/kiv/Typed.h"

namespace Bcm53134::Agent {

// What every CPU interface manager does, over its own kind of interface Intf
// (made by Create): one interface per name, found or created by enable and
// disable, which it hands on. An interface name seen once stays known, with
// its last state, for the manager's life; destroying the manager touches no
// netdevice. Self is the registered manager type.
template <class Self, class Intf, Orba::Ptr<Intf> (*Create)(Orba::String const&)>
class CpuInterfaceMgr : public Kiv::Typed<Self, CpuIfMgr> {
 public:
  using Interface = Intf;

  Orba::Ptr<Intf> cpuInterface(Orba::String const& name) const {
    return cpuInterface_.member(name);
  }
  std::size_t cpuInterfaceCount() const noexcept { return cpuInterface_.size(); }
  // The interfaces in name order.
  std::vector<Orba::Ptr<Intf>> cpuInterfaceByName() const { return cpuInterface_.membersByName(); }
  // Find or create; never null.
  Orba::Ptr<Intf> cpuInterfaceIs(Orba::String const& name) {
    return cpuInterface_.memberIs(name, Create);
  }
  // Removes and returns the interface of that name (null when absent).
  Orba::Ptr<Intf> cpuInterfaceDel(Orba::String const& name) {
    return cpuInterface_.memberDel(name);
  }
  void cpuInterfaceDelAll() { cpuInterface_.memberDelAll(); }

  void enable(Orba::String const& name) override { cpuInterfaceIs(name)->enable(); }
  void disable(Orba::String const& name) override { cpuInterfaceIs(name)->disable(); }

 protected:
  CpuInterfaceMgr() = default;
  ~CpuInterfaceMgr() override { cpuInterfaceDelAll(); }

 private:
  CpuInterfaceCollection<Intf> cpuInterface_;
};

}  // namespace Bcm53134::Agent
