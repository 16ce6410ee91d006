#include "Bcm53X/Bcm53134Agent/RegisterId.h"

#include <limits>
#include <ostream>

#include "platform/kiv/Type.h"
#include "platform/kiv/ValueText.h"

namespace Bcm53134::Agent {

namespace {
constexpr char const* kTypeName = "Bcm53134::Agent::RegisterId";
constexpr std::uint64_t kU32Max = std::numeric_limits<std::uint32_t>::max();
}  // namespace

RegisterId::RegisterId(std::string_view& range) {
  Kiv::ValueTextReader r(kTypeName, range);
  page_ = static_cast<std::uint32_t>(r.attr("page", kU32Max));
  addr_ = static_cast<std::uint32_t>(r.attr("addr", kU32Max));
  r.end();
}

RegisterId RegisterId::parse(std::string_view text) {
  std::string_view range = text;
  RegisterId id(range);
  if (!range.empty()) {
    throw Kiv::AttributeError("malformed " + std::string(kTypeName) + " '" + std::string(text) +
                              "': unexpected '" + std::string(range) + "' after the value");
  }
  return id;
}

std::uint64_t RegisterId::hash(std::uint64_t seed) const noexcept {
  std::uint64_t h = Kiv::hashMix(seed, &page_, sizeof page_);
  return Kiv::hashMix(h, &addr_, sizeof addr_);
}

std::ostream& operator<<(std::ostream& os, RegisterId const& id) {
  return os
         << Kiv::ValueTextWriter(kTypeName).attr("page", id.page()).attr("addr", id.addr()).str();
}

}  // namespace Bcm53134::Agent
