#pragma once

#include <CLI/CLI.hpp>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace Host::Ctl {

// CLI11's complaints about a command line, in the words agenthost and
// agentctl use: "--trace needs a value", "--check takes no value".
inline std::string cliRefusal(CLI::ParseError const& e) {
  std::string what = e.what();
  if (e.get_name() == "ArgumentMismatch") {
    // "--trace: 1 required TEXT missing"
    if (auto colon = what.find(':'); colon != std::string::npos && what.rfind("--", 0) == 0)
      return what.substr(0, colon) + " needs a value";
    // "keep-netns was given a disallowed flag override"
    if (auto end = what.find(" was given a disallowed flag override"); end != std::string::npos)
      return "--" + what.substr(0, end) + " takes no value";
  }
  return what;
}

// An option that takes a value, and what the value is called in a refusal.
struct ValueOption {
  std::string_view name;  // "--status"
  std::string_view noun;  // "a file name"
};

// "--status needs a file name" when one of the options is given an empty
// value ("--status=", or "--status" and an empty word), which CLI11 would
// otherwise fill with the next word; empty when none is. Only the words
// before `end` are options.
inline std::string emptyValueRefusal(std::vector<std::string> const& args, std::size_t end,
                                     std::initializer_list<ValueOption> options) {
  for (std::size_t i = 0; i < end && i < args.size(); ++i) {
    for (auto const& o : options) {
      bool joined = args[i].size() == o.name.size() + 1 && args[i].rfind(o.name, 0) == 0 &&
                    args[i].back() == '=';
      bool apart = args[i] == o.name && i + 1 < args.size() && args[i + 1].empty();
      if (joined || apart)
        return std::string(o.name) + " needs " + std::string(o.noun);
    }
  }
  return {};
}

// "agenthost 0.1.0": the program and the project's version.
std::string versionLine(std::string_view program);

}  // namespace Host::Ctl
