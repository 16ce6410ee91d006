#pragma once

#include <CLI/CLI.hpp>
#include <algorithm>
#include <span>
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

// One option of a program, in the table its command line is read with:
// its names as CLI11 takes them ("--agent-dir,--lib-dir"), how it is
// written, and the member of the program's `Words` that keeps what it gives.
template <class Words>
struct CliOption {
  enum Form {
    flag,           // --check; "--check=VALUE" is refused
    anyFlag,        // -h,--help; CLI11's own reading of a value
    value,          // --status FILE or --status=FILE
    optionalValue,  // --netns or --netns=NAME; `deflt` when alone
  };
  char const* names;
  Form form;
  bool Words::*set = nullptr;          // a flag
  std::string Words::*text = nullptr;  // an option with a value
  char const* noun = nullptr;          // its value in a refusal: "a file name"
  char const* deflt = "";              // an optional value's when alone
};

// The names in CLI11's form: "-h,--help" is "-h" and "--help".
inline std::vector<std::string> cliNames(std::string_view all) {
  std::vector<std::string> names;
  for (std::size_t at = 0; at <= all.size();) {
    auto comma = std::min(all.find(',', at), all.size());
    names.emplace_back(all.substr(at, comma - at));
    at = comma + 1;
  }
  return names;
}

// Each name of a table's options: "-h", "--help", "--json", ...
template <class Words>
std::vector<std::string> cliOptionNames(std::span<CliOption<Words> const> table) {
  std::vector<std::string> names;
  for (auto const& o : table) {
    for (auto& n : cliNames(o.names))
      names.push_back(std::move(n));
  }
  return names;
}

// Adds a table's options to `app`, kept in `words`.
template <class Words>
void cliOptionsAdd(CLI::App& app, std::span<CliOption<Words> const> table, Words& words) {
  for (auto const& o : table) {
    if (o.form == CliOption<Words>::flag)
      app.add_flag(o.names, words.*o.set)->disable_flag_override();
    else if (o.form == CliOption<Words>::anyFlag)
      app.add_flag(o.names, words.*o.set);
    else if (o.form == CliOption<Words>::value)
      app.add_option(o.names, words.*o.text);
    else
      app.add_flag(std::string(o.names) + "{" + o.deflt + "}", words.*o.text);
  }
}

// "--status needs a file name" when one of a table's options that takes a
// value is given an empty one ("--status=", or "--status" and an empty
// word), which CLI11 would otherwise fill with the next word; empty when
// none is. Only the words before `end` are options.
template <class Words>
std::string emptyValueRefusal(std::vector<std::string> const& args, std::size_t end,
                              std::span<CliOption<Words> const> table) {
  for (std::size_t i = 0; i < end && i < args.size(); ++i) {
    for (auto const& o : table) {
      if (!o.noun)
        continue;
      for (auto const& name : cliNames(o.names)) {
        bool joined = args[i].size() == name.size() + 1 && args[i].rfind(name, 0) == 0 &&
                      args[i].back() == '=';
        bool apart = args[i] == name && i + 1 < args.size() && args[i + 1].empty();
        if (joined || apart)
          return name + " needs " + o.noun;
      }
    }
  }
  return {};
}

// "agenthost 0.1.0": the program and the project's version.
std::string versionLine(std::string_view program);

}  // namespace Host::Ctl
