#include "platform/mdio/MdioRegLib.h"

#include "platform/kiv/AttrTable.h"

#include <cstdio>

#include "platform/kiv/Clock.h"

namespace Bcm53134::MdioRegLib {

namespace {
TransactionObserver* observer = nullptr;
}  // namespace

TransactionObserver* transactionObserverIs(TransactionObserver* o) noexcept {
  auto* previous = observer;
  observer = o;
  return previous;
}

// Config

Orba::Ptr<Config> Config::ConfigIs(Orba::String const& name) {
  return Orba::Ptr<Config>::adopt(new Config(name));
}

void Config::requestEnq(Request const& r) {
  requests_.push(r);
  publisher_.notify(requestAttrId());
}

Kiv::AttributeId Config::requestAttrId() {
  static Kiv::AttributeId const id = typeDesc().attrId("request");
  return id;
}

Kiv::TypeDesc const& Config::typeDesc() {
  static Kiv::TypeDesc const d = [] {
    auto t = Kiv::entityType("Bcm53134::MdioRegLib::Config");
    t.attrs = {Kiv::readOnly<&Config::name>(129, "name"),
               Kiv::collection(130, "request", nullptr, nullptr, {.count = [](Orba::Node const& n) {
                                 return Kiv::self<Config>(n).requestCount();
                               }})};
    return t;
  }();
  return d;
}

// Status

Orba::Ptr<Status> Status::StatusIs(Orba::String const& name) {
  return Orba::Ptr<Status>::adopt(new Status(name));
}

void Status::resultEnq(Result const& r) {
  results_.push(r);
  publisher_.notify(resultAttrId());
}

Kiv::AttributeId Status::resultAttrId() {
  static Kiv::AttributeId const id = typeDesc().attrId("result");
  return id;
}

Kiv::TypeDesc const& Status::typeDesc() {
  static Kiv::TypeDesc const d = [] {
    auto t = Kiv::entityType("Bcm53134::MdioRegLib::Status");
    t.attrs = {Kiv::readOnly<&Status::name>(131, "name"),
               Kiv::collection(132, "result", nullptr, nullptr, {.count = [](Orba::Node const& n) {
                                 return Kiv::self<Status>(n).resultCount();
                               }})};
    return t;
  }();
  return d;
}

// MiiOp

std::uint32_t MiiOp::read(Hardware::Mdio::PortAddr port, std::uint32_t reg) const {
  if (!accel_ || reg > 31)
    return 0;
  auto r = accel_->read(port, static_cast<std::uint8_t>(reg));
  return r.ok() ? r.value : 0;
}

// RegisterSm

Orba::Ptr<RegisterSm> RegisterSm::RegisterSmIs(Orba::Ptr<HalMdioAccel::Accel> const& accel,
                                               Orba::Ptr<Config> const& config,
                                               Orba::Ptr<Status> const& status) {
  return Orba::Ptr<RegisterSm>::adopt(new RegisterSm(accel, config, status));
}

RegisterSm::RegisterSm(Orba::Ptr<HalMdioAccel::Accel> accel, Orba::Ptr<Config> config,
                       Orba::Ptr<Status> status)
    : accel_(std::move(accel)),
      config_(std::move(config)),
      status_(std::move(status)),
      miiOp_(accel_.get()),
      timer_(*this) {
  requestSlot_.callbackIs([this](Kiv::AttributeId id, void const*) {
    if (id == Config::requestAttrId())
      startNext();
  });
}

RegisterSm::~RegisterSm() {
  requestSlot_.unsubscribe();
  timer_.disarm();
}

void RegisterSm::hasNotificationActiveIs(bool on) {
  if (on == notificationActive())
    return;
  notificationActiveFlagIs(on);
  if (on) {
    if (config_)
      config_->publisher()->subscriberAdd(requestSlot_);
    startNext();
  } else {
    requestSlot_.unsubscribe();
    timer_.disarm();
  }
}

void RegisterSm::startNext() {
  if (!notificationActive() || timer_.armed() || !config_ || !config_->requestHas())
    return;
  timer_.arm(Kiv::System::currentTime() +
             (accel_ ? accel_->accessTime() : Hardware::Mdio::Bus::kFrameTime));
}

void RegisterSm::execute() {
  Orba::Ptr<RegisterSm> hold(this);  // a result's receiver may drop the service
  if (!config_->requestHas())
    return;
  Request const r = config_->requestDeq();
  Result const result = perform(r);
  if (observer)
    observer->transaction(r, result);
  if (status_)
    status_->resultEnq(result);
  startNext();
}

Result RegisterSm::perform(Request const& r) {
  Result res;
  res.xid = r.xid;
  char buf[96];
  if (r.page < kPhyPageBase || r.page >= kPhyPageBase + kPhyCount) {
    std::snprintf(buf, sizeof buf, "page 0x%x is not reachable over MDIO", r.page);
    res.error = buf;
    return res;
  }
  if (r.size != 2 || (r.addr & 1) || r.addr / 2 > 31) {
    std::snprintf(buf, sizeof buf, "register 0x%x/0x%x of %u bytes is not an MII register", r.page,
                  r.addr, static_cast<unsigned>(r.size));
    res.error = buf;
    return res;
  }
  if (r.op != Request::read && r.op != Request::write) {
    std::snprintf(buf, sizeof buf, "operation %u is neither a read nor a write",
                  static_cast<unsigned>(r.op));
    res.error = buf;
    return res;
  }
  if (r.op == Request::write && r.value > 0xffff) {
    // Truncating would write something other than what was asked for.
    std::snprintf(buf, sizeof buf, "value 0x%llx does not fit register 0x%x/0x%x",
                  static_cast<unsigned long long>(r.value), r.page, r.addr);
    res.error = buf;
    return res;
  }
  auto const phy = static_cast<Hardware::Mdio::PortAddr>(r.page - kPhyPageBase);
  auto const reg = static_cast<std::uint8_t>(r.addr / 2);
  if (!accel_) {
    res.error = "no MDIO accelerator";
    return res;
  }
  if (r.op == Request::write) {
    auto a = accel_->write(phy, reg, static_cast<std::uint16_t>(r.value));
    res.error = std::move(a.error);
    res.value = r.value;
  } else {
    auto a = accel_->read(phy, reg);
    res.error = std::move(a.error);
    res.value = a.value;
  }
  return res;
}

Kiv::TypeDesc const& RegisterSm::typeDesc() {
  static Kiv::TypeDesc const d = Kiv::entityType("Bcm53134::MdioRegLib::RegisterSm");
  return d;
}

}  // namespace Bcm53134::MdioRegLib
