#pragma once

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Bcm53X/CpuIfMgr/CpuInterface.h"
#include "platform/kiv/Type.h"

namespace Bcm53134::Agent {

// The interfaces one manager keeps: a hash collection of owning references,
// keyed by each element's name through CpuInterfaceKeyFunktor.
template <class Elem>
class CpuInterfaceCollection {
 public:
  CpuInterfaceCollection() = default;
  CpuInterfaceCollection(CpuInterfaceCollection const&) = delete;
  CpuInterfaceCollection& operator=(CpuInterfaceCollection const&) = delete;

  // The element of that name, or null.
  Orba::Ptr<Elem> member(Orba::String const& name) const {
    auto it = members_.find(name);
    return it == members_.end() ? Orba::Ptr<Elem>() : it->second;
  }

  // Find or create: an existing element is returned as it is; otherwise a new
  // one from create(name) is entered under its key.
  template <class Create>
  Orba::Ptr<Elem> memberIs(Orba::String const& name, Create create) {
    if (auto it = members_.find(name); it != members_.end())
      return it->second;
    Orba::Ptr<Elem> elem = create(name);
    auto const key = CpuInterfaceKeyFunktor()(*elem);
    auto it = members_.emplace(key, std::move(elem)).first;
    return it->second;
  }

  // Removes the element of that name and hands it back; null when absent.
  Orba::Ptr<Elem> memberDel(Orba::String const& name) {
    auto it = members_.find(name);
    if (it == members_.end())
      return {};
    auto elem = std::move(it->second);
    members_.erase(it);
    return elem;
  }

  void memberDelAll() {
    // Elements are released after the collection is already empty, so an
    // element's destruction never sees a half-cleared collection.
    auto old = std::move(members_);
    members_.clear();
  }

  std::size_t size() const noexcept { return members_.size(); }

  // The elements in name order (the hash order is not stable).
  std::vector<Orba::Ptr<Elem>> membersByName() const {
    std::vector<Orba::Ptr<Elem>> r;
    r.reserve(members_.size());
    for (auto const& [name, elem] : members_)
      r.push_back(elem);
    std::sort(r.begin(), r.end(),
              [](auto const& a, auto const& b) { return a->name() < b->name(); });
    return r;
  }

 private:
  std::unordered_map<Orba::String, Orba::Ptr<Elem>> members_;
};

}  // namespace Bcm53134::Agent
