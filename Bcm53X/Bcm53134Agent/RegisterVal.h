#pragma once

#include <cstdint>

#include "Bcm53X/Bcm53134Agent/RegisterId.h"
#include "platform/kiv/Type.h"
#include "platform/kiv/Typed.h"

namespace Bcm53134::Agent {

// One managed chip register: its identity and width, the value last seen in
// hardware (or last written), the value it must hold, and the rule that says
// which hardware values are plausible.
class RegisterVal : public Kiv::Typed<RegisterVal> {
 public:
  using U8 = std::uint8_t;
  using U16 = std::uint16_t;
  using U32 = std::uint32_t;

  static constexpr U32 extendedControlPageBase = 0x10;
  static constexpr U32 extendedControlReg = 0x20;
  static constexpr U8 extendedControlRegSize = 2;
  static constexpr U32 extendedControlValidVal = 0x0;
  static constexpr U32 extendedControlValidMask = 0xCFFF;
  static constexpr U16 txEnable = 0x1000;
  static constexpr U16 txDisable = 0x3000;
  static constexpr U32 auxCtrlReg = 0x30;
  static constexpr U8 auxCtrlRegSize = 2;
  static constexpr U32 auxCtrlRegExpVal = 0x430;
  static constexpr U32 auxCtrlRegValidVal = 0x0;
  static constexpr U32 auxCtrlRegValidMask = 0x0;

  // Note the order: the expected value of the checked bits before the mask.
  static Orba::Ptr<RegisterVal> RegisterValIs(RegisterId const& id, U32 dataSize,
                                              U32 validityCheckVal, U32 validityCheckMask);

  RegisterId const& id() const noexcept { return id_; }
  U32 dataSize() const noexcept { return dataSize_; }
  U32 val() const noexcept { return val_; }
  void valIs(U32 v) noexcept { val_ = v; }
  bool valid() const noexcept { return valid_; }
  void validIs(bool v) noexcept { valid_ = v; }
  U32 configVal() const noexcept { return configVal_; }
  void configValIs(U32 v) noexcept { configVal_ = v; }
  bool configValid() const noexcept { return configValid_; }
  void configValidIs(bool v) noexcept { configValid_ = v; }
  U32 validityCheckVal() const noexcept { return validityCheckVal_; }
  U32 validityCheckMask() const noexcept { return validityCheckMask_; }

  // Whether a value read from (or written to) the register is plausible.
  bool isValidValue(U32 value) const noexcept {
    return (value & validityCheckMask_) == validityCheckVal_;
  }

  static Kiv::TypeDesc const& typeDesc();

 private:
  RegisterVal(RegisterId const& id, U32 dataSize, U32 validityCheckVal, U32 validityCheckMask)
      : id_(id),
        dataSize_(dataSize),
        validityCheckVal_(validityCheckVal),
        validityCheckMask_(validityCheckMask) {}

  RegisterId id_;
  U32 dataSize_;
  U32 val_ = 0;
  bool valid_ = false;
  U32 configVal_ = 0;
  bool configValid_ = false;
  U32 validityCheckVal_;
  U32 validityCheckMask_;
};

}  // namespace Bcm53134::Agent
