#pragma once

#include <map>

#include "platform/kiv/Type.h"
#include "platform/kiv/Typed.h"
#include "platform/orba/Node.h"
#include "platform/orba/Publisher.h"

namespace Kiv {

// A directory entity: named entries, in name order. Adding, replacing or
// removing an entry notifies the entry attribute with the entry's name
// (an Orba::String) as key.
class Dir : public Typed<Dir> {
 public:
  using Entries = std::map<Orba::String, Orba::Ptr<Orba::Node>, std::less<>>;

  static Orba::Ptr<Dir> DirIs(Orba::String const& name);

  Orba::String const& name() const noexcept { return name_; }
  Orba::Publisher* publisher() const override { return &publisher_; }

  Orba::Ptr<Orba::Node> entityPtr(std::string_view name) const;
  bool entityPtrHas(std::string_view name) const;
  Entries const& entityPtrIteratorConst() const noexcept { return entries_; }
  std::size_t entityCount() const noexcept { return entries_.size(); }

  // Adds or replaces an entry; an empty entity raises NullArgumentException.
  void entityIs(Orba::String const& name, Orba::Ptr<Orba::Node> const& entity);
  Orba::Ptr<Orba::Node> entityDel(std::string_view name);
  // Creates an entity of a registered type under the name through the type's
  // directory hook and enters it; raises Kiv::AttributeError when the type is
  // unknown or offers no hook, and the type's own exceptions otherwise.
  Orba::Ptr<Orba::Node> entityCreate(std::string_view typeName, Orba::String const& name,
                                     std::vector<Value> const& more = {});

  static AttributeId entityAttrId();
  static TypeDesc const& typeDesc();

 protected:
  explicit Dir(Orba::String name) : name_(std::move(name)) {}

 private:
  Orba::String name_;
  Entries entries_;
  mutable Orba::Publisher publisher_;
};

// The name of an entity: its "name" attribute through the generic
// interface, or the empty string when it has none.
Orba::String fetchName(Orba::Node const& entity);
// Streams an entity: its name, or its type name and address when unnamed.
using Orba::operator<<;

}  // namespace Kiv
