#pragma once

#include <compare>
#include <cstdint>
#include <iosfwd>
#include <string_view>

#include "platform/kiv/Value.h"

namespace Bcm53134::Agent {

// Identity of a chip register: its page and its byte address in the page.
// Ordered by page, then address, both unsigned.
class RegisterId {
 public:
  RegisterId() = default;
  RegisterId(std::uint32_t page, std::uint32_t addr) : page_(page), addr_(addr) {}
  // Reads the text form from the front of the range and advances it past
  // the value; malformed text raises Kiv::AttributeError.
  explicit RegisterId(std::string_view& range);
  // Parses a whole string, which must be the text form and nothing else.
  static RegisterId parse(std::string_view text);

  std::uint32_t page() const noexcept { return page_; }
  std::uint32_t addr() const noexcept { return addr_; }

  bool operator==(RegisterId const&) const = default;
  std::strong_ordering operator<=>(RegisterId const& o) const noexcept {
    if (auto c = page_ <=> o.page_; c != 0)
      return c;
    return addr_ <=> o.addr_;
  }
  std::uint64_t hash(std::uint64_t seed = 0) const noexcept;

 private:
  std::uint32_t page_ = 0;
  std::uint32_t addr_ = 0;
};

// The framework's text form: Bcm53134::Agent::RegisterId(page=0x11, addr=0x20).
std::ostream& operator<<(std::ostream& os, RegisterId const& id);

}  // namespace Bcm53134::Agent

template <>
struct Kiv::TypeOf<Bcm53134::Agent::RegisterId> {
  static Kiv::TypeDesc const& desc();
};
