#pragma once

#include <string_view>
#include <utility>
#include <vector>

#include "platform/kiv/Type.h"

// The generic attribute interface: every registered attribute of every entity
// read, written, instantiated, deleted, called, iterated, counted and tested
// for membership by name, over Kiv::Value. Misuse raises Kiv::AttributeError
// with the type and attribute named; the mutator exceptions of the entities
// themselves pass through unchanged.
namespace Kiv::Generic {

AttrDesc const& attribute(Orba::Node const& n, std::string_view attr);
std::vector<AttrDesc const*> attributes(Orba::Node const& n);

Value get(Orba::Node const& n, std::string_view attr);
void set(Orba::Node& n, std::string_view attr, Value const& v);
// Parses the text as the attribute's type, then sets it.
void setText(Orba::Node& n, std::string_view attr, std::string_view text);

Value lookup(Orba::Node const& n, std::string_view attr, Value const& key);
bool has(Orba::Node const& n, std::string_view attr, Value const& key);
std::size_t count(Orba::Node const& n, std::string_view attr);
std::vector<std::pair<Value, Value>> members(Orba::Node const& n, std::string_view attr);
// Instantiating collections and handles: creation arguments; plain keyed
// collections: key then value.
Value insert(Orba::Node& n, std::string_view attr, std::vector<Value> const& args);
Value del(Orba::Node& n, std::string_view attr, Value const& key = Value());
Value call(Orba::Node& n, std::string_view attr, std::vector<Value> const& args = {});

// Generic construction of a registered entity type.
Value construct(std::string_view typeName, std::vector<Value> const& args);

// Converts text arguments to the parameter types (entity parameters cannot be
// given as text).
std::vector<Value> parseArgs(std::vector<ParamDesc> const& params,
                             std::vector<std::string> const& texts, std::string_view what);

}  // namespace Kiv::Generic
