#pragma once

#include "platform/kiv/Generic.h"
#include "tests/support/SimAppliance.h"

namespace TestSupport {

// How many subscribers an entity's publisher has.
inline std::size_t subscribers(Orba::Node const& n) {
  return n.publisher() ? n.publisher()->subscriberCount() : 0;
}

}  // namespace TestSupport
