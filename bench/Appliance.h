#pragma once

#include "platform/bus/record/RecordingBus.h"

#include <cstdint>
#include <functional>
#include <memory>

#include "tests/support/ChipIoctl.h"
#include "tests/support/SimAppliance.h"

namespace Bench {

// The test suite's simulated appliance (in-process state database, simulated
// chip, virtual time, simulated CPU interface manager: no netdevice is
// touched) with n management interfaces laid out for benchmarks. Interface k
// (0-based) is "Management<k+1>" on external port (k+1) mod 8 and internal
// port (k+5) mod 8, with CPU netdevice "mgmt<k+1>" when k is even and none
// when k is odd: n = 2 is the shipped example appliance (1/5 with mgmt1, 2/6
// without). With eight interfaces every port is the external port of one
// interface and the internal port of another, as the chip has eight PHYs.
//
// The agent reaches the chip straight through the bus seam, or (miiIoctl)
// over the MII ioctl bus whose one system call is answered from the chip's
// registers, which measures the software cost of the real transport, or
// through the bus recorder, off (recorderOff) or writing a bus record to a
// file of its own (recording).
class Appliance : public TestSupport::SimAppliance {
 public:
  using Chip = Hardware::Mdio::Sim::Bcm53134Chip;
  enum class Transport { sim, miiIoctl, recorderOff, recording };

  explicit Appliance(unsigned interfaces, Transport transport = Transport::sim);
  // The agent goes before the ioctl stand-in its bus calls.
  ~Appliance();

  static std::uint8_t externalPort(unsigned k) { return static_cast<std::uint8_t>((k + 1) % 8); }
  static std::uint8_t internalPort(unsigned k) { return static_cast<std::uint8_t>((k + 5) % 8); }

  bool idle() const;
  // Runs from the next poll until the machine is idle again; false when no
  // cycle started within a poll period or did not end within ten seconds.
  // The predicates are kept so that a measured cycle allocates nothing here.
  bool runCycle();
  // Runs the start-up and the cycles that follow it until one writes
  // nothing: the steady state.
  bool settle();

 private:
  std::function<bool()> started_, idle_;
  std::unique_ptr<TestSupport::ChipIoctl> ioctl_;
  Orba::Ptr<Hardware::Mdio::Record::RecordingBus> recorder_;
  std::string recordPath_;
};

}  // namespace Bench
