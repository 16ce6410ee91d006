#pragma once

#include <CLI/CLI.hpp>
#include <string>

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

}  // namespace Host::Ctl
