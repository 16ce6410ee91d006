#include "host/appliance/Reload.h"

#include <algorithm>
#include <map>

namespace Host {

namespace {

char const* netdevModeText(NetdevMode m) {
  return m == NetdevMode::hostNamespace ? "host" : "private";
}

char const* transportText(MdioTransport t) {
  return t == MdioTransport::miiIoctl ? "mii-ioctl" : "sim";
}

std::string describe(MgmtIntfDesc const& m) {
  return "external port " + std::to_string(m.externalPort) + ", internal port " +
         std::to_string(m.internalPort) + ", " +
         (m.cpuInterface.empty() ? "no CPU netdevice" : "CPU netdevice " + m.cpuInterface);
}

template <class T>
T const* findBy(std::vector<T> const& v, auto T::*field, std::string const& value) {
  auto it = std::find_if(v.begin(), v.end(), [&](T const& x) { return x.*field == value; });
  return it == v.end() ? nullptr : &*it;
}

std::string stateText(Interface::IntfEnabledState s) {
  return Interface::stringValue(s);
}

void applyMgmtInterfaces(StateDb& db, std::vector<MgmtIntfDesc> const& want,
                         std::vector<std::string>& lines) {
  auto have = db.mgmtInterfaces();
  for (auto const& h : have) {
    auto const* w = findBy(want, &MgmtIntfDesc::intfId, h.intfId);
    if (w && *w == h)
      continue;
    db.mgmtInterfaceDel(h.intfId);
    lines.push_back("management interface " + h.intfId + " removed");
  }
  for (auto const& w : want) {
    auto const* h = findBy(have, &MgmtIntfDesc::intfId, w.intfId);
    if (h && *h == w)
      continue;
    db.mgmtInterfaceAdd(w);
    lines.push_back("management interface " + w.intfId + " added: " + describe(w));
  }
}

void applySlice(StateDb& db, SliceDesc const& have, SliceDesc const& want,
                std::vector<std::string>& lines) {
  for (auto const& h : have.interfaces) {
    if (!findBy(want.interfaces, &IntfConfigDesc::intfId, h.intfId)) {
      db.intfConfigDel(want.name, h.intfId);
      lines.push_back(want.name + ": " + h.intfId + " removed");
    }
  }
  auto dir = db.slice(want.name);
  for (auto const& w : want.interfaces) {
    auto const* h = findBy(have.interfaces, &IntfConfigDesc::intfId, w.intfId);
    if (!h) {
      db.intfConfigAdd(want.name, w);
      lines.push_back(want.name + ": " + w.intfId + " added, " + stateText(w.state));
    } else if (h->state != w.state) {
      dir->intfConfig(Lanx::IntfId(w.intfId))->enabledStateIs(w.state);
      lines.push_back(want.name + ": " + w.intfId + " " + stateText(h->state) + " -> " +
                      stateText(w.state));
    }
  }
}

void applySlices(StateDb& db, std::vector<SliceDesc> const& want, std::vector<std::string>& lines) {
  auto have = db.slices();
  for (auto const& h : have) {
    if (!findBy(want, &SliceDesc::name, h.name)) {
      db.sliceDel(h.name);
      lines.push_back("slice " + h.name + " removed");
    }
  }
  for (auto const& w : want) {
    if (auto const* h = findBy(have, &SliceDesc::name, w.name)) {
      applySlice(db, *h, w, lines);
      continue;
    }
    db.sliceAdd(w);
    std::string intfs;
    for (auto const& i : w.interfaces)
      intfs += (intfs.empty() ? "" : ", ") + i.intfId + " " + stateText(i.state);
    lines.push_back("slice " + w.name + " added: " + (intfs.empty() ? "no interfaces" : intfs));
  }
}

}  // namespace

std::vector<std::string> restartChanges(ApplianceDesc const& running, ApplianceDesc const& next) {
  std::vector<std::string> r;
  if (running.mdio != next.mdio) {
    r.push_back(std::string("mdio.transport changed (") + transportText(running.mdio) + " -> " +
                transportText(next.mdio) + ")");
  } else if (running.mdioNetdev != next.mdioNetdev) {
    r.push_back("mdio.netdev changed (" + running.mdioNetdev + " -> " + next.mdioNetdev + ")");
  }
  if (running.bus != next.bus) {
    r.push_back("switch.bus changed (" + std::to_string(running.bus) + " -> " +
                std::to_string(next.bus) + ")");
  }
  if (running.links != next.links)
    r.push_back("chip.links changed");
  if (running.txDisableCoupling != next.txDisableCoupling)
    r.push_back("chip.txDisableCoupling changed");
  if (running.accessTime != next.accessTime)
    r.push_back("chip.accessTime changed");
  if (running.netdevices != next.netdevices) {
    r.push_back(std::string("netdevices changed (") + netdevModeText(running.netdevices) + " -> " +
                netdevModeText(next.netdevices) + ")");
  }
  return r;
}

std::vector<std::string> applyAppliance(StateDb& db, ApplianceDesc const& running,
                                        ApplianceDesc const& next) {
  if (auto restart = restartChanges(running, next); !restart.empty()) {
    std::string why;
    for (auto const& c : restart)
      why += (why.empty() ? "" : "; ") + c;
    throw RestartNeeded(next.file + ": " + why + ": that needs a restart; nothing from the file " +
                        "was applied");
  }
  std::vector<std::string> lines;
  applyMgmtInterfaces(db, next.mgmtInterfaces, lines);
  applySlices(db, next.slices, lines);
  if (db.hamPresent() != next.ham) {
    db.hamPresentIs(next.ham);
    lines.push_back(std::string("ham ") + (next.ham ? "absent -> present" : "present -> absent"));
  }
  return lines;
}

}  // namespace Host
