#include "host/appliance/Reload.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

namespace Host {

namespace {

using Kind = ReloadChange::Kind;

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

// Seconds as a person writes them: 2, 0.5, 0.001.
std::string secondsText(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", s);
  return buf;
}

std::string stateText(Interface::IntfEnabledState s) {
  return Interface::stringValue(s);
}

void planMgmtInterfaces(std::vector<MgmtIntfDesc> const& have,
                        std::vector<MgmtIntfDesc> const& want, std::vector<ReloadChange>& out) {
  for (auto const& h : have) {
    auto const* w = findBy(want, &MgmtIntfDesc::intfId, h.intfId);
    if (w && *w == h)
      continue;
    out.push_back({.kind = Kind::mgmtInterfaceDel,
                   .text = "management interface " + h.intfId + " removed",
                   .mgmt = h});
  }
  for (auto const& w : want) {
    auto const* h = findBy(have, &MgmtIntfDesc::intfId, w.intfId);
    if (h && *h == w)
      continue;
    out.push_back({.kind = Kind::mgmtInterfaceAdd,
                   .text = "management interface " + w.intfId + " added: " + describe(w),
                   .mgmt = w});
  }
}

// The management interfaces in the order the agent will visit them once the
// plan's removals and additions are made: by key, a removal freeing its
// key and an addition taking the first free one, as the StateDb does.
std::vector<MgmtIntfDesc> visitedAfter(LiveConfig const& live,
                                       std::vector<ReloadChange> const& changes) {
  std::map<unsigned, MgmtIntfDesc> byKey;
  for (std::size_t i = 0; i < live.mgmtInterfaces.size(); ++i)
    byKey[i < live.mgmtKeys.size() ? live.mgmtKeys[i] : i] = live.mgmtInterfaces[i];
  for (auto const& c : changes) {
    if (c.kind == Kind::mgmtInterfaceDel) {
      std::erase_if(byKey, [&](auto const& e) { return e.second.intfId == c.mgmt.intfId; });
    } else if (c.kind == Kind::mgmtInterfaceAdd) {
      unsigned key = 0;
      while (byKey.contains(key))
        ++key;
      byKey[key] = c.mgmt;
    }
  }
  std::vector<MgmtIntfDesc> r;
  for (auto const& [key, m] : byKey)
    r.push_back(m);
  return r;
}

// Each port the plan makes shared is told in the line of the later of the
// two additions that make it so.
void warnOfSharedPorts(LiveConfig const& live, std::vector<ReloadChange>& changes) {
  for (auto const& p : newSharedPorts(live.mgmtInterfaces, visitedAfter(live, changes))) {
    for (auto it = changes.rbegin(); it != changes.rend(); ++it) {
      if (it->kind == Kind::mgmtInterfaceAdd &&
          (it->mgmt.intfId == p.first || it->mgmt.intfId == p.last)) {
        it->text += "; " + p.warning;
        break;
      }
    }
  }
}

void planSlice(SliceDesc const& have, SliceDesc const& want, std::vector<ReloadChange>& out) {
  for (auto const& h : have.interfaces) {
    if (!findBy(want.interfaces, &IntfConfigDesc::intfId, h.intfId)) {
      out.push_back({.kind = Kind::intfConfigDel,
                     .text = want.name + ": " + h.intfId + " removed",
                     .sliceName = want.name,
                     .intf = h});
    }
  }
  for (auto const& w : want.interfaces) {
    auto const* h = findBy(have.interfaces, &IntfConfigDesc::intfId, w.intfId);
    if (!h) {
      out.push_back({.kind = Kind::intfConfigAdd,
                     .text = want.name + ": " + w.intfId + " added, " + stateText(w.state),
                     .sliceName = want.name,
                     .intf = w});
    } else if (h->state != w.state) {
      out.push_back({.kind = Kind::enabledState,
                     .text = want.name + ": " + w.intfId + " " + stateText(h->state) + " -> " +
                             stateText(w.state),
                     .sliceName = want.name,
                     .intf = w,
                     .from = h->state});
    }
  }
}

void planSlices(std::vector<SliceDesc> const& have, std::vector<SliceDesc> const& want,
                std::vector<ReloadChange>& out) {
  for (auto const& h : have) {
    if (!findBy(want, &SliceDesc::name, h.name))
      out.push_back({.kind = Kind::sliceDel, .text = "slice " + h.name + " removed", .slice = h});
  }
  for (auto const& w : want) {
    if (auto const* h = findBy(have, &SliceDesc::name, w.name)) {
      planSlice(*h, w, out);
      continue;
    }
    std::string intfs;
    for (auto const& i : w.interfaces)
      intfs += (intfs.empty() ? "" : ", ") + i.intfId + " " + stateText(i.state);
    out.push_back(
        {.kind = Kind::sliceAdd,
         .text = "slice " + w.name + " added: " + (intfs.empty() ? "no interfaces" : intfs),
         .slice = w});
  }
}

// What undoes a change once made: the change that reverses it, and for a
// removed management interface the key it had.
struct Undo {
  ReloadChange change;
  std::optional<std::uint8_t> key;
};

ReloadChange reverse(ReloadChange const& c) {
  ReloadChange r = c;
  switch (c.kind) {
    case Kind::mgmtInterfaceDel:
      r.kind = Kind::mgmtInterfaceAdd;
      break;
    case Kind::mgmtInterfaceAdd:
      r.kind = Kind::mgmtInterfaceDel;
      break;
    case Kind::sliceDel:
      r.kind = Kind::sliceAdd;
      break;
    case Kind::sliceAdd:
      r.kind = Kind::sliceDel;
      break;
    case Kind::intfConfigDel:
      r.kind = Kind::intfConfigAdd;
      break;
    case Kind::intfConfigAdd:
      r.kind = Kind::intfConfigDel;
      break;
    case Kind::enabledState:
      std::swap(r.intf.state, r.from);
      break;
    case Kind::ham:
      r.hamPresent = !c.hamPresent;
      break;
    case Kind::pollPeriod:
      std::swap(r.period, r.fromPeriod);
      break;
  }
  return r;
}

// Makes one change; false when the database is not as the plan found it.
// A removed management interface's key goes to `removedKey`; `key` puts an
// added one back at the key it had.
bool make(StateDb& db, ReloadChange const& c, std::function<void(double)> const& pollPeriodIs,
          std::optional<std::uint8_t> key = {}, std::optional<std::uint8_t>* removedKey = nullptr) {
  switch (c.kind) {
    case Kind::mgmtInterfaceDel: {
      auto k = db.mgmtInterfaceKey(c.mgmt.intfId);
      if (removedKey)
        *removedKey = k;
      return k && db.mgmtInterfaceDel(c.mgmt.intfId);
    }
    case Kind::mgmtInterfaceAdd:
      if (db.mgmtInterfaceKey(c.mgmt.intfId))
        return false;
      db.mgmtInterfaceAdd(c.mgmt, key);
      return true;
    case Kind::sliceDel:
      return db.sliceDel(c.slice.name);
    case Kind::sliceAdd:
      return db.sliceAdd(c.slice);
    case Kind::intfConfigDel:
      return db.intfConfigDel(c.sliceName, c.intf.intfId);
    case Kind::intfConfigAdd:
      return db.intfConfigAdd(c.sliceName, c.intf);
    case Kind::enabledState:
      return db.enabledStateIs(c.sliceName, c.intf.intfId, c.intf.state);
    case Kind::ham:
      if (db.hamPresent() == c.hamPresent)
        return false;
      db.hamPresentIs(c.hamPresent);
      return true;
    case Kind::pollPeriod:
      if (!pollPeriodIs)
        return false;
      pollPeriodIs(c.period);
      return true;
  }
  return false;
}

}  // namespace

LiveConfig liveConfigOf(StateDb const& db) {
  LiveConfig c{db.mgmtInterfaces(), db.slices(), db.hamPresent(), {}};
  for (auto const& m : c.mgmtInterfaces)
    c.mgmtKeys.push_back(db.mgmtInterfaceKey(m.intfId).value_or(0));
  return c;
}

std::string ReloadPlan::refusal() const {
  if (restart.empty())
    return {};
  std::string why;
  for (auto const& c : restart)
    why += (why.empty() ? "" : "; ") + c;
  return file + ": " + why + ": that needs a restart; nothing from the file was applied";
}

std::vector<std::string> ReloadPlan::newCpuNetdevs(LiveConfig const& live) const {
  std::vector<std::string> r;
  for (auto const& c : changes) {
    auto const& dev = c.mgmt.cpuInterface;
    if (c.kind != Kind::mgmtInterfaceAdd || dev.empty() ||
        findBy(live.mgmtInterfaces, &MgmtIntfDesc::cpuInterface, dev) ||
        std::find(r.begin(), r.end(), dev) != r.end())
      continue;
    r.push_back(dev);
  }
  return r;
}

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

ReloadPlan planReload(LiveConfig const& live, ApplianceDesc const& running,
                      ApplianceDesc const& next) {
  ReloadPlan plan{next.file, restartChanges(running, next), {}};
  if (plan.refused())
    return plan;
  planMgmtInterfaces(live.mgmtInterfaces, next.mgmtInterfaces, plan.changes);
  warnOfSharedPorts(live, plan.changes);
  planSlices(live.slices, next.slices, plan.changes);
  if (live.ham != next.ham) {
    plan.changes.push_back(
        {.kind = Kind::ham,
         .text = std::string("ham ") + (next.ham ? "absent -> present" : "present -> absent"),
         .hamPresent = next.ham});
  }
  if (next.pollPeriod && live.pollPeriod && *next.pollPeriod != *live.pollPeriod) {
    plan.changes.push_back({.kind = Kind::pollPeriod,
                            .text = "pollPeriod " + secondsText(*live.pollPeriod) + " -> " +
                                    secondsText(*next.pollPeriod) + " s",
                            .period = *next.pollPeriod,
                            .fromPeriod = *live.pollPeriod});
  }
  return plan;
}

void applyPlan(StateDb& db, ReloadPlan const& plan,
               std::function<void(double)> const& pollPeriodIs) {
  if (plan.refused())
    return;
  std::vector<Undo> done;
  auto undoAll = [&] {
    for (auto it = done.rbegin(); it != done.rend(); ++it) {
      try {
        make(db, it->change, pollPeriodIs, it->key);
      } catch (std::exception const&) {
        // Undoing puts back what was there a moment ago; nothing is left to
        // try when even that fails.
      }
    }
  };
  for (auto const& c : plan.changes) {
    std::string why;
    Undo undo{reverse(c), {}};
    try {
      if (make(db, c, pollPeriodIs, {}, &undo.key)) {
        done.push_back(std::move(undo));
        continue;
      }
      why = "the state database has changed since the reload was planned";
    } catch (std::exception const& e) {
      why = e.what();
    }
    undoAll();
    throw ReloadFailed(c.text + ": " + why);
  }
}

}  // namespace Host
