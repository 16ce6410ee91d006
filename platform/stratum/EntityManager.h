#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/kiv/Type.h"
#include "platform/kiv/Typed.h"
#include "platform/orba/Node.h"

namespace Stratum {

class EntityManager;

// How a mount group's mounts ended.
enum class MountStatus : std::uint8_t {
  mountsComplete = 0,  // every path of every requested profile is present
  mountsPartial = 1,   // a requested profile is unknown or one of its paths is absent
};
char const* stringValue(MountStatus s);

// Whoever asks for mounts and is told when they complete.
class Mounter : public Orba::Node {
 public:
  virtual void doStratumMountsComplete(MountStatus status,
                                       Orba::Ptr<EntityManager> const& entityManager) = 0;
};

// A request for the entities of one or more mount profiles. Closing the
// group reports completion to the mounter later, through the event loop,
// never inside doClose.
class MountGroup : public Orba::Node {
 public:
  void doMountProfile(Orba::String const& name);
  // wait: whether the caller blocks (this database never blocks: completion
  // always comes through the loop); reason: a text for diagnostics;
  // timeout: unused by the in-process database.
  void doClose(bool wait, Orba::String const& reason, Kiv::Seconds timeout);
  std::vector<Orba::String> const& profiles() const noexcept { return profiles_; }
  bool closed() const noexcept { return closed_; }

 private:
  friend class EntityManager;
  MountGroup(Orba::Ptr<EntityManager> em, Orba::Ptr<Mounter> mounter)
      : em_(std::move(em)), mounter_(std::move(mounter)) {}
  Orba::Ptr<EntityManager> em_;
  Orba::Ptr<Mounter> mounter_;
  std::vector<Orba::String> profiles_;
  bool closed_ = false;
};

// The in-process state database: entities by path, and the mount profiles
// that whoever sets up the database defines. Paths are plain text such as
// "hardware/bcm53134/config"; Cell::path gives the cell-relative form.
class EntityManager : public Kiv::Typed<EntityManager> {
 public:
  static Orba::Ptr<EntityManager> EntityManagerIs();
  // The process's entity manager, which agents created afterwards hold.
  static Orba::Ptr<EntityManager> local();
  static void localIs(Orba::Ptr<EntityManager> const& em);

  Orba::Ptr<MountGroup> getMountGroup(Orba::Ptr<Mounter> const& mounter);
  // The entity at the path, or empty.
  Orba::Ptr<Orba::Node> getEntity(std::string_view path) const;

  // Database side.
  void entityIs(Orba::String const& path, Orba::Ptr<Orba::Node> const& entity);
  Orba::Ptr<Orba::Node> entityDel(std::string_view path);
  void mountProfileIs(Orba::String const& name, std::vector<Orba::String> paths);
  std::vector<Orba::String> const* mountProfile(std::string_view name) const;
  std::map<Orba::String, Orba::Ptr<Orba::Node>, std::less<>> const& entities() const {
    return entities_;
  }

  // Observability: how many groups were closed, and completions delivered.
  unsigned closeCount() const noexcept { return closes_; }
  unsigned completionCount() const noexcept { return completions_; }

  static Kiv::TypeDesc const& typeDesc();

 private:
  friend class MountGroup;
  EntityManager() = default;
  std::map<Orba::String, Orba::Ptr<Orba::Node>, std::less<>> entities_;
  std::map<Orba::String, std::vector<Orba::String>, std::less<>> profiles_;
  unsigned closes_ = 0, completions_ = 0;
};

}  // namespace Stratum

namespace Cell {
// This system's cell number.
unsigned localCellId();
void localCellIdIs(unsigned id);
// The cell-relative form of a path: "cell/<id>/<path>", where id 0 stands for
// the local cell.
Orba::String path(std::string_view path, unsigned cellId);
}  // namespace Cell
