#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/bus/Bus.h"
#include "platform/bus/record/BusRecord.h"
#include "platform/kiv/Typed.h"

namespace Hardware::Mdio::Record {

// A bus that answers every access from a record, in the record's order:
// the access must be the one the record has next (the same operation, PHY,
// register and, for a write, value), and gets the recorded value or error.
// The first access that differs is a divergence, and so is an access after
// the last recorded one that comes before the record's end (its time taken
// as the record saw it, so that a record made in real time ends where it
// did). An access past the end of a record finishes the replay; so does any
// access past a record that was cut short. After a divergence every access
// fails; after the end the bus holds still (a read gets the value last
// recorded or written for its register, a write succeeds), so that the
// event in which the record ran out ends quietly. Either way `over()` holds.
class ReplayBus : public Kiv::Typed<ReplayBus, Bus> {
 public:
  static Orba::Ptr<ReplayBus> ReplayBusIs(BusRecord record);

  struct Divergence {
    std::size_t line = 0;  // the record's line
    std::string text;      // what was recorded and what the agent did
  };

  AccessResult read(PortAddr phy, std::uint8_t reg) override;
  AccessResult write(PortAddr phy, std::uint8_t reg, std::uint16_t value) override;
  Kiv::Seconds accessTime() const override { return record_.accessTime; }
  std::string description() const override { return "replay of " + record_.name; }

  BusRecord const& record() const noexcept { return record_; }
  std::size_t consumed() const noexcept { return next_; }
  bool over() const noexcept { return divergence_ || finished_; }
  bool finished() const noexcept { return finished_; }
  std::optional<Divergence> const& divergence() const noexcept { return divergence_; }
  // The run is ending: what the record has left unconsumed is a divergence,
  // unless the replay is over already.
  void runEnds();
  // Told once, when the replay is over.
  void overHandlerIs(std::function<void()> fn) { onOver_ = std::move(fn); }

  static Kiv::TypeDesc const& typeDesc();

 private:
  explicit ReplayBus(BusRecord record) : record_(std::move(record)) {}
  AccessResult access(bool write, PortAddr phy, std::uint8_t reg, std::uint16_t value);
  void diverges(std::size_t line, std::string text);
  void finishes();

  BusRecord record_;
  std::size_t next_ = 0;
  double offset_ = 0;  // the record's time less the loop's, at the last match
  bool finished_ = false;
  std::map<std::pair<PortAddr, std::uint8_t>, std::uint16_t> held_;  // last value per register
  std::optional<Divergence> divergence_;
  std::function<void()> onOver_;
};

}  // namespace Hardware::Mdio::Record
