#include "platform/lanx/IntfId.h"

#include <ostream>

#include "platform/kiv/Type.h"

namespace Lanx {

std::ostream& operator<<(std::ostream& os, IntfId const& id) {
  return os << id.name();
}

}  // namespace Lanx

Kiv::TypeDesc const& Kiv::TypeOf<Lanx::IntfId>::desc() {
  static Kiv::TypeDesc const d = Kiv::valueType<Lanx::IntfId>(
      "Lanx::IntfId", [](Lanx::IntfId const& id) { return id.name(); },
      [](std::string_view s) { return Lanx::IntfId(s); });
  return d;
}
