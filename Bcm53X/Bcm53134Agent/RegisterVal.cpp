#include "Bcm53X/Bcm53134Agent/RegisterVal.h"

namespace Bcm53134::Agent {

using Kiv::AttrDesc;
using Kiv::AttrKind;
using Kiv::self;
using Kiv::TypeOf;
using Kiv::Value;

Orba::Ptr<RegisterVal> RegisterVal::RegisterValIs(RegisterId const& id, U32 dataSize,
                                                  U32 validityCheckVal, U32 validityCheckMask) {
  return Orba::Ptr<RegisterVal>::adopt(
      new RegisterVal(id, dataSize, validityCheckVal, validityCheckMask));
}

namespace {

template <class T>
AttrDesc constant(Kiv::AttributeId id, char const* name, T value) {
  AttrDesc a{.id = id, .name = name, .kind = AttrKind::constant, .type = &TypeOf<T>::desc()};
  a.get = [value](Orba::Node const&) { return Value::of(value); };
  return a;
}

}  // namespace

Kiv::TypeDesc const& RegisterVal::typeDesc() {
  static Kiv::TypeDesc const d = [] {
    auto t = Kiv::entityType("Bcm53134::Agent::RegisterVal");
    AttrDesc id{.id = 1, .name = "id", .type = &TypeOf<RegisterId>::desc()};
    id.get = [](Orba::Node const& n) { return Value::of(self<RegisterVal>(n).id()); };
    AttrDesc size{.id = 2, .name = "dataSize", .type = &TypeOf<U32>::desc()};
    size.get = [](Orba::Node const& n) { return Value::of(self<RegisterVal>(n).dataSize()); };
    AttrDesc val{.id = 3, .name = "val", .type = &TypeOf<U32>::desc()};
    val.get = [](Orba::Node const& n) { return Value::of(self<RegisterVal>(n).val()); };
    val.set = [](Orba::Node& n, Value const& v) { self<RegisterVal>(n).valIs(v.as<U32>()); };
    AttrDesc valid{.id = 4, .name = "valid", .type = &TypeOf<bool>::desc()};
    valid.get = [](Orba::Node const& n) { return Value::of(self<RegisterVal>(n).valid()); };
    valid.set = [](Orba::Node& n, Value const& v) { self<RegisterVal>(n).validIs(v.as<bool>()); };
    AttrDesc cval{.id = 5, .name = "configVal", .type = &TypeOf<U32>::desc()};
    cval.get = [](Orba::Node const& n) { return Value::of(self<RegisterVal>(n).configVal()); };
    cval.set = [](Orba::Node& n, Value const& v) { self<RegisterVal>(n).configValIs(v.as<U32>()); };
    AttrDesc cvalid{.id = 6, .name = "configValid", .type = &TypeOf<bool>::desc()};
    cvalid.get = [](Orba::Node const& n) { return Value::of(self<RegisterVal>(n).configValid()); };
    cvalid.set = [](Orba::Node& n, Value const& v) {
      self<RegisterVal>(n).configValidIs(v.as<bool>());
    };
    AttrDesc checkVal{.id = 7, .name = "validityCheckVal", .type = &TypeOf<U32>::desc()};
    checkVal.get = [](Orba::Node const& n) {
      return Value::of(self<RegisterVal>(n).validityCheckVal());
    };
    AttrDesc checkMask{.id = 8, .name = "validityCheckMask", .type = &TypeOf<U32>::desc()};
    checkMask.get = [](Orba::Node const& n) {
      return Value::of(self<RegisterVal>(n).validityCheckMask());
    };
    t.attrs = {id,
               size,
               val,
               valid,
               cval,
               cvalid,
               checkVal,
               checkMask,
               constant(9, "extendedControlPageBase", extendedControlPageBase),
               constant(10, "extendedControlReg", extendedControlReg),
               constant(11, "extendedControlRegSize", extendedControlRegSize),
               constant(12, "extendedControlValidVal", extendedControlValidVal),
               constant(13, "extendedControlValidMask", extendedControlValidMask),
               constant(14, "txEnable", txEnable),
               constant(15, "txDisable", txDisable),
               constant(16, "auxCtrlReg", auxCtrlReg),
               constant(17, "auxCtrlRegSize", auxCtrlRegSize),
               constant(18, "auxCtrlRegExpVal", auxCtrlRegExpVal),
               constant(19, "auxCtrlRegValidVal", auxCtrlRegValidVal),
               constant(20, "auxCtrlRegValidMask", auxCtrlRegValidMask)};
    return t;
  }();
  return d;
}
Kiv::TypeDesc const* RegisterVal::typeData() const {
  return &typeDesc();
}

}  // namespace Bcm53134::Agent
