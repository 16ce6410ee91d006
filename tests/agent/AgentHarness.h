#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "platform/kiv/Generic.h"
#include "tests/agent/SimAppliance.h"

namespace TestSupport {

// The access that the generic attribute interface offers on each attribute
// of an entity, in declaration order, as "name:letters" separated by spaces,
// with r read, w write, l lookup by key, i instantiate or insert, d delete,
// n member count, m iteration, c call ("name:" when nothing is offered).
inline std::string accessTable(Orba::Node const& n) {
  std::ostringstream r;
  for (auto const* a : Kiv::Generic::attributes(n)) {
    std::string s = a->name + ":";
    if (a->get)
      s += 'r';
    if (a->set)
      s += 'w';
    if (a->lookup)
      s += 'l';
    if (a->insert)
      s += 'i';
    if (a->del)
      s += 'd';
    if (a->count)
      s += 'n';
    if (a->members)
      s += 'm';
    if (a->call)
      s += 'c';
    r << (r.tellp() == 0 ? "" : " ") << s;
  }
  return r.str();
}

// How many subscribers an entity's publisher has.
inline std::size_t subscribers(Orba::Node const& n) {
  return n.publisher() ? n.publisher()->subscriberCount() : 0;
}

}  // namespace TestSupport
