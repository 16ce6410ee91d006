#pragma once

#include "Bcm53X/CpuIfMgr/CpuInterface.h"
#include "platform/kiv/Typed.h"

namespace Bcm53134::Agent {

// A simulated CPU interface: enable and disable only record the outcome.
// While simFail is set, every enable or disable that has something to do
// fails and leaves the state unknown, so the next verdict is tried again.
class TestCpuInterface : public Kiv::Typed<TestCpuInterface, CpuInterface> {
 public:
  static Orba::Ptr<TestCpuInterface> TestCpuInterfaceIs(Orba::String const& name);

  void enable() { act(State::enabled); }
  void disable() { act(State::disabled); }

  bool simFail() const noexcept { return simFail_; }
  void simFailIs(bool on) noexcept { simFail_ = on; }

  static Kiv::TypeDesc const& typeDesc();

 protected:
  explicit TestCpuInterface(Orba::String const& name) : Typed(name) {}
  ~TestCpuInterface() override = default;

 private:
  bool carryOut(State to) override;

  bool simFail_ = false;
};

}  // namespace Bcm53134::Agent
