#include "platform/stratum/EntityManager.h"

#include "platform/kiv/EventLoop.h"

namespace Stratum {

char const* stringValue(MountStatus s) {
  return s == MountStatus::mountsComplete ? "mountsComplete" : "mountsPartial";
}

namespace {
Orba::Ptr<EntityManager>& localManager() {
  static Orba::Ptr<EntityManager> em;
  return em;
}
}  // namespace

Orba::Ptr<EntityManager> EntityManager::EntityManagerIs() {
  return Orba::Ptr<EntityManager>::adopt(new EntityManager());
}
Orba::Ptr<EntityManager> EntityManager::local() {
  return localManager();
}
void EntityManager::localIs(Orba::Ptr<EntityManager> const& em) {
  localManager() = em;
}

Orba::Ptr<MountGroup> EntityManager::getMountGroup(Orba::Ptr<Mounter> const& mounter) {
  return Orba::Ptr<MountGroup>::adopt(new MountGroup(Orba::Ptr<EntityManager>(this), mounter));
}

Orba::Ptr<Orba::Node> EntityManager::getEntity(std::string_view path) const {
  auto it = entities_.find(path);
  return it == entities_.end() ? Orba::Ptr<Orba::Node>() : it->second;
}

void EntityManager::entityIs(Orba::String const& path, Orba::Ptr<Orba::Node> const& entity) {
  entities_[path] = entity;
}

Orba::Ptr<Orba::Node> EntityManager::entityDel(std::string_view path) {
  auto it = entities_.find(path);
  if (it == entities_.end())
    return {};
  auto old = std::move(it->second);
  entities_.erase(it);
  return old;
}

void EntityManager::mountProfileIs(Orba::String const& name, std::vector<Orba::String> paths) {
  profiles_[name] = std::move(paths);
}

std::vector<Orba::String> const* EntityManager::mountProfile(std::string_view name) const {
  auto it = profiles_.find(name);
  return it == profiles_.end() ? nullptr : &it->second;
}

Kiv::TypeDesc const& EntityManager::typeDesc() {
  static Kiv::TypeDesc const d = Kiv::entityType("Stratum::EntityManager");
  return d;
}

void MountGroup::doMountProfile(Orba::String const& name) {
  profiles_.push_back(name);
}

void MountGroup::doClose(bool, Orba::String const&, Kiv::Seconds) {
  if (closed_)
    return;
  closed_ = true;
  ++em_->closes_;
  auto status = MountStatus::mountsComplete;
  for (auto const& p : profiles_) {
    auto const* paths = em_->mountProfile(p);
    if (!paths) {
      status = MountStatus::mountsPartial;
      continue;
    }
    for (auto const& path : *paths) {
      if (!em_->getEntity(path))
        status = MountStatus::mountsPartial;
    }
  }
  // The group holds the mounter and the manager until completion is told.
  Kiv::EventLoop::instance().post([em = em_, mounter = mounter_, status] {
    ++em->completions_;
    if (mounter)
      mounter->doStratumMountsComplete(status, em);
  });
}

}  // namespace Stratum

namespace Cell {

namespace {
unsigned localCell = 1;
}

unsigned localCellId() {
  return localCell;
}
void localCellIdIs(unsigned id) {
  localCell = id;
}

Orba::String path(std::string_view path, unsigned cellId) {
  return "cell/" + std::to_string(cellId == 0 ? localCell : cellId) + "/" + std::string(path);
}

}  // namespace Cell
