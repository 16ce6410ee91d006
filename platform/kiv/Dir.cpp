#include "platform/kiv/Dir.h"

#include <ostream>
#include "platform/kiv/AttrTable.h"

#include "platform/kiv/Errors.h"
#include "platform/kiv/Generic.h"
#include "platform/kiv/Type.h"

namespace Kiv {

Orba::Ptr<Dir> Dir::DirIs(Orba::String const& name) {
  return Orba::Ptr<Dir>::adopt(new Dir(name));
}

Orba::Ptr<Orba::Node> Dir::entityPtr(std::string_view name) const {
  auto it = entries_.find(name);
  return it == entries_.end() ? Orba::Ptr<Orba::Node>() : it->second;
}

bool Dir::entityPtrHas(std::string_view name) const {
  return entries_.find(name) != entries_.end();
}

void Dir::entityIs(Orba::String const& name, Orba::Ptr<Orba::Node> const& entity) {
  if (!entity)
    throwMutatorNullArgument("entity", typeDesc().name, "entity");
  auto& slot = entries_[name];
  if (slot == entity)
    return;
  slot = entity;
  publisher_.notify(entityAttrId(), &name);
}

Orba::Ptr<Orba::Node> Dir::entityDel(std::string_view name) {
  auto it = entries_.find(name);
  if (it == entries_.end())
    return {};
  Orba::String key = it->first;
  auto old = std::move(it->second);
  entries_.erase(it);
  publisher_.notify(entityAttrId(), &key);
  return old;
}

Orba::Ptr<Orba::Node> Dir::entityCreate(std::string_view typeName, Orba::String const& name,
                                        std::vector<Value> const& more) {
  auto const* t = TypeRegistry::instance().type(typeName);
  if (!t)
    throw AttributeError("no type named " + std::string(typeName));
  if (!t->dirCreate) {
    throw AttributeError("type " + t->name + " cannot be created in a directory");
  }
  auto v = t->dirCreate(name, more);
  auto const* p = std::any_cast<Orba::Ptr<Orba::Node>>(&v.raw());
  Orba::Ptr<Orba::Node> entity = p ? *p : Orba::Ptr<Orba::Node>();
  entityIs(name, entity);
  return entity;
}

AttributeId Dir::entityAttrId() {
  static AttributeId const id = typeDesc().attrId("entity");
  return id;
}

TypeDesc const& Dir::typeDesc() {
  static TypeDesc const d = [] {
    TypeDesc t = entityType("Kiv::Dir");
    // Entries are of any entity type: each travels as its own type.
    auto const entry = [](Orba::Ptr<Orba::Node> const& e) {
      return e && e->typeData() ? Value(e->typeData(), std::any(e)) : Value();
    };
    t.attrs = {readOnly<&Dir::name>(265, "name"),
               collection(266, "entity", nullptr, &TypeOf<std::string>::desc(),
                          {.lookup =
                               [entry](Orba::Node const& n, Value const& key) {
                                 return entry(self<Dir>(n).entityPtr(key.as<std::string>()));
                               },
                           .count = [](Orba::Node const& n) { return self<Dir>(n).entityCount(); },
                           .members =
                               [entry](Orba::Node const& n) {
                                 std::vector<std::pair<Value, Value>> r;
                                 for (auto const& [k, e] : self<Dir>(n).entityPtrIteratorConst())
                                   r.emplace_back(Value::of(k), entry(e));
                                 return r;
                               }})};
    return t;
  }();
  return d;
}

Orba::String fetchName(Orba::Node const& entity) {
  auto const* t = entity.typeData();
  for (auto const* k = t; k; k = k->base) {
    if (k->nameOf)
      return k->nameOf(entity);
  }
  auto const* a = t ? t->attr("name") : nullptr;
  if (!a || !a->get)
    return {};
  auto v = a->get(entity);
  if (auto const* s = std::any_cast<std::string>(&v.raw()))
    return *s;
  return v.text();
}

}  // namespace Kiv

namespace Orba {

std::ostream& operator<<(std::ostream& os, Orba::Node const& entity) {
  auto name = Kiv::fetchName(entity);
  if (!name.empty())
    return os << name;
  auto const* t = entity.typeData();
  return os << (t ? t->name : std::string("Orba::Node")) << '@'
            << static_cast<void const*>(&entity);
}

}  // namespace Orba
