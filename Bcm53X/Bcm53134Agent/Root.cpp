#include "Bcm53X/Bcm53134Agent/Root.h"

#include "Bcm53X/Bcm53134Agent/AgentTrace.h"

namespace Bcm53134::Agent {

namespace {
constexpr char const* kMountProfile = "Bcm53134Agent";
constexpr char const* kConfigPath = "hardware/bcm53134/config";
constexpr char const* kStatusPath = "hardware/bcm53134/status";
constexpr char const* kIntfSliceDirPath = "interface/config/eth/phy/slice";
}  // namespace

Orba::Ptr<Root> Root::RootIs(Orba::String const& name) {
  return Orba::Ptr<Root>::adopt(new Root(name));
}

Orba::Ptr<Root> rootFactory(Orba::String const& name) {
  return Root::RootIs(name);
}

Root::~Root() {
  notificationActiveFlagIs(false);
  bcm53134SmDel();
}

void Root::doInit() {
  KIV_TRACE(trace(), 0) << *this << "::doInit";
  if (!entityManager()) {
    KIV_TRACE(trace(), 0) << *this << "::doInit"
                          << ": no state database to mount from";
    return;
  }
  auto group = entityManager()->getMountGroup(Orba::Ptr<Stratum::Mounter>(this));
  group->doMountProfile(kMountProfile);
  group->doClose(false, "", 0);
}

void Root::doMountsComplete(Stratum::MountStatus,
                            Orba::Ptr<Stratum::EntityManager> const& entityManager) {
  KIV_TRACE(trace(), 0) << *this << "::doMountsComplete";
  auto config = Orba::ptrCast<Hardware::Bcm53134::Config>(
      entityManager->getEntity(Cell::path(kConfigPath, 0)));
  auto status = Orba::ptrCast<Hardware::Bcm53134::Status>(
      entityManager->getEntity(Cell::path(kStatusPath, 0)));
  auto dir = Orba::ptrCast<Kiv::Dir>(entityManager->getEntity(kIntfSliceDirPath));
  bcm53134SmIs(config, status, dir);
}

// A machine the root lets go of stops reacting at once, and its slice
// reactors, which hold references back to it, are deleted, so that the
// machine and its reactors are both released once nobody else holds them.
void Root::release(Orba::Ptr<Bcm53134Sm> const& sm) {
  sm->hasNotificationActiveIs(false);
  sm->intfSliceReactorDelAll();
}

Orba::Ptr<Bcm53134Sm> Root::bcm53134SmIs(Orba::Ptr<Hardware::Bcm53134::Config> const& config,
                                         Orba::Ptr<Hardware::Bcm53134::Status> const& status,
                                         Orba::Ptr<Kiv::Dir> const& intfSliceDir) {
  if (bcm53134Sm_ && bcm53134Sm_->config() == config && bcm53134Sm_->status() == status &&
      bcm53134Sm_->intfSliceDir() == intfSliceDir) {
    return bcm53134Sm_;
  }
  auto sm = Bcm53134Sm::Bcm53134SmIs(config, status, intfSliceDir);
  if (auto old = std::exchange(bcm53134Sm_, sm))
    release(old);
  sm->hasNotificationActiveIs(true);
  return sm;
}

Orba::Ptr<Bcm53134Sm> Root::bcm53134SmDel() {
  auto old = std::move(bcm53134Sm_);
  if (old)
    release(old);
  return old;
}

}  // namespace Bcm53134::Agent
