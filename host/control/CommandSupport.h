#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/kiv/Value.h"
#include "platform/orba/Node.h"

// What the control command families share: the error a command raises,
// the answer it builds, the table it prints and the agent's values as text
// and JSON; the commands registered from above the host use it too.
namespace Host {

class RunningAgent;

namespace Commands {

using Json = nlohmann::ordered_json;

// A command that cannot be carried out, with the reason for the user.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A command's answer: the text agentctl prints (without trailing newlines)
// and the same for programs.
Json done(std::string text, Json result = nullptr);

// Columns aligned two spaces apart, the header first.
class Table {
 public:
  explicit Table(std::vector<std::string> header) { rows_.push_back(std::move(header)); }
  void row(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }
  std::string text(std::string const& indent = "  ") const;

 private:
  std::vector<std::vector<std::string>> rows_;
};

// The object a value holds, if it holds a handle.
Orba::Ptr<Orba::Node> const* handleIn(Kiv::Value const& v);
std::string typeName(Orba::Node const& n);
// Numbers as numbers, the rest as its text form.
Json valueJson(Kiv::Value const& v);
std::string joined(std::vector<std::string> const& v, std::string const& sep = ", ");

// The agent's root; a CommandError when the agent is not running.
Orba::Node& rootOf(RunningAgent& s);

// A collection's members in key order; keys of one type sort by their text,
// shorter first, so that numbers in it come in numeric order.
std::vector<std::pair<Kiv::Value, Kiv::Value>> sortedMembers(Orba::Node const& n,
                                                             std::string const& attr);

// A CommandError with the usage unless argv has min to max words.
void needArgs(std::vector<std::string> const& argv, std::size_t min, std::size_t max,
              char const* usage);

// Puts a change made by hand on the running agent's timeline.
void logged(RunningAgent& s, std::string const& what);

}  // namespace Commands
}  // namespace Host
