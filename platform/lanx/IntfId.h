#pragma once

#include <compare>
#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>

#include "platform/kiv/Value.h"

namespace Lanx {

// An interface identifier, such as "Management1". The default value stands
// for no interface.
class IntfId {
 public:
  IntfId() = default;
  explicit IntfId(std::string_view name) : name_(name) {}

  std::string const& name() const noexcept { return name_; }
  bool empty() const noexcept { return name_.empty(); }
  std::size_t hash() const noexcept { return std::hash<std::string>()(name_); }

  auto operator<=>(IntfId const&) const = default;
  bool operator==(IntfId const&) const = default;

 private:
  std::string name_;
};

std::ostream& operator<<(std::ostream& os, IntfId const& id);

}  // namespace Lanx

template <>
struct std::hash<Lanx::IntfId> {
  std::size_t operator()(Lanx::IntfId const& id) const noexcept { return id.hash(); }
};

template <>
struct Kiv::TypeOf<Lanx::IntfId> {
  static Kiv::TypeDesc const& desc();
};
