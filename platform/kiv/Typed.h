#pragma once

#include "platform/kiv/Type.h"
#include "platform/orba/Node.h"

namespace Kiv {

// The one answer every registered entity class gives to Orba::Node::typeData:
// the descriptor of its own class. A class derives from Typed<Self, Base>
// instead of Base and declares only `static TypeDesc const& typeDesc();`.
template <class Self, class Base = Orba::Node>
class Typed : public Base {
 public:
  TypeDesc const* typeData() const override { return &Self::typeDesc(); }

 protected:
  using Base::Base;
};

}  // namespace Kiv
