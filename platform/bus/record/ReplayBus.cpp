#include "platform/bus/record/ReplayBus.h"

#include <cstdio>

#include "platform/kiv/EventLoop.h"
#include "platform/kiv/Type.h"

namespace Hardware::Mdio::Record {

namespace {

std::string at(double t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, " at %.6f s", t);
  return buf;
}

}  // namespace

Orba::Ptr<ReplayBus> ReplayBus::ReplayBusIs(BusRecord record) {
  return Orba::Ptr<ReplayBus>::adopt(new ReplayBus(std::move(record)));
}

AccessResult ReplayBus::read(PortAddr phy, std::uint8_t reg) {
  return access(false, phy, reg, 0);
}

AccessResult ReplayBus::write(PortAddr phy, std::uint8_t reg, std::uint16_t value) {
  return access(true, phy, reg, value);
}

AccessResult ReplayBus::access(bool write, PortAddr phy, std::uint8_t reg, std::uint16_t value) {
  // Past the end, the bus holds still.
  auto still = [&]() -> AccessResult {
    auto& v = held_[{phy, reg}];
    if (write)
      v = value;
    return {write ? std::uint16_t(0) : v, ""};
  };
  if (divergence_)
    return {0, "the replay of " + record_.name + " is over"};
  if (finished_)
    return still();
  double now = Kiv::EventLoop::instance().now();
  std::string did = "the agent did a " + accessText(write, phy, reg, value) + at(now);
  if (next_ == record_.accesses.size()) {
    if (record_.cutShort() || now + offset_ > record_.end) {
      finishes();
      return still();
    }
    diverges(record_.endLine,
             did + ", which the record does not have (it ends" + at(record_.end) + ")");
    return {0, "the replay of " + record_.name + " diverged"};
  }
  Access const& a = record_.accesses[next_];
  if (a.write != write || a.phy != phy || a.reg != reg || (write && a.value != value)) {
    diverges(a.line, "the record has a " + accessText(a.write, a.phy, a.reg, a.value) + at(a.t) +
                         "; " + did);
    return {0, "the replay of " + record_.name + " diverged"};
  }
  ++next_;
  offset_ = a.t - now;
  if (a.error.empty())
    held_[{phy, reg}] = a.value;
  return {write ? std::uint16_t(0) : a.value, a.error};
}

void ReplayBus::runEnds() {
  if (over())
    return;
  if (next_ < record_.accesses.size()) {
    Access const& a = record_.accesses[next_];
    diverges(a.line, "the record has a " + accessText(a.write, a.phy, a.reg, a.value) + at(a.t) +
                         " and " + std::to_string(record_.accesses.size() - next_ - 1) +
                         " accesses after it that the agent never did (the run ended" +
                         at(Kiv::EventLoop::instance().now()) + ")");
    return;
  }
  finishes();
}

void ReplayBus::diverges(std::size_t line, std::string text) {
  divergence_ = Divergence{line, std::move(text)};
  if (onOver_)
    onOver_();
}

void ReplayBus::finishes() {
  finished_ = true;
  if (onOver_)
    onOver_();
}

Kiv::TypeDesc const& ReplayBus::typeDesc() {
  static Kiv::TypeDesc const d = Kiv::entityType("Hardware::Mdio::Record::ReplayBus");
  return d;
}

}  // namespace Hardware::Mdio::Record
