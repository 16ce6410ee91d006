// Attribute paths: the agent read, written and called through the generic attribute interface
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/kiv/Generic.h"

namespace Host {

// A path through the generic attribute interface, from the agent root:
//   bcm53134Sm.pollPeriod
//   bcm53134Sm.cpuIfMgr.cpuInterface[mgmt1].state
//   bcm53134Sm.registerVal[<RegisterId text>].val
// Each step names an attribute; a step on a keyed collection may pick a
// member with [KEY], the key in the text form of the collection's key type.
// Every step but the last must lead to an entity.
struct PathStep {
  std::string name;
  std::optional<std::string> key;
};
// Throws std::invalid_argument saying what is wrong with the text.
std::vector<PathStep> parsePath(std::string_view text);

// The attribute a path ends at: the entity that has it, its descriptor and
// the parsed member key when the last step has one.
struct AttrTarget {
  Orba::Ptr<Orba::Node> owner;
  Kiv::AttrDesc const* attr = nullptr;
  std::optional<Kiv::Value> key;
};

// Walks the path from the root. Throws Kiv::AttributeError (an unknown
// attribute, a key that does not parse, an empty handle on the way) with the
// path in the message.
AttrTarget resolvePath(Orba::Node& root, std::string const& path);

// The attribute's value, or the member's when the path has a key (an absent
// member reads as an empty value).
Kiv::Value readAttr(AttrTarget const& t);
// Writes the attribute from text in the form of its type, or inserts the
// member under the key.
void writeAttr(AttrTarget const& t, std::string const& text);
// Writes a handle (a newly constructed entity).
void writeAttr(AttrTarget const& t, Kiv::Value const& v);
// Calls an operation with arguments given as text.
Kiv::Value callAttr(AttrTarget const& t, std::vector<std::string> const& args);
// Instantiates a member (or inserts key and value) with arguments as text.
Kiv::Value insertAttr(AttrTarget const& t, std::vector<std::string> const& args);
// Deletes the member named by the key, or the instantiated attribute.
Kiv::Value deleteAttr(AttrTarget const& t);

// Whether a value read through the interface equals the expected text: the
// text is parsed in the value's type when it can be; "absent" matches an
// empty value or an empty handle.
bool valueMatches(Kiv::Value const& v, std::string const& expected);
// The value as the timeline shows it.
std::string valueText(Kiv::Value const& v);

}  // namespace Host
