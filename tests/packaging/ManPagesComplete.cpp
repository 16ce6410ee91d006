// Every option of agenthost and agentctl, and every control command with
// its sub-commands, has its entry in the manual page that describes it:
// agenthost(8) an option line (".TP" then ".B \-\-name", ".BI", ".BR"),
// agentctl(8) a line that opens with the command's words (".BI "sim reg"
// ..."). Run with the two pages; names every entry missing.
#include <fstream>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include "host/Options.h"
#include "host/control/ControlCommands.h"
#include "host/control/ctl/Client.h"
#include "workbench/control/WorkbenchControl.h"

namespace {

// The page's lines with "\-" read as "-", each with whether a ".TP" opens it.
struct Line {
  std::string text;
  bool tagged;
};

std::vector<Line> pageLines(char const* path) {
  std::ifstream in(path);
  if (!in)
    throw std::runtime_error(std::string("cannot read ") + path);
  std::vector<Line> lines;
  bool tagged = false;
  for (std::string l; std::getline(in, l);) {
    for (std::size_t at; (at = l.find("\\-")) != std::string::npos;)
      l.erase(at, 1);
    lines.push_back({l, tagged});
    tagged = l == ".TP";
  }
  return lines;
}

std::string regexQuoted(std::string const& words) {
  return std::regex_replace(words, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

// Whether a bold line (.B, .BI, .BR) opens with the words, quoted or not.
bool described(std::vector<Line> const& page, std::string const& words, bool tagOnly) {
  std::regex const entry("^\\.B[IR]? +\"?" + regexQuoted(words) + "($|[ \"\\[])");
  for (auto const& l : page) {
    if ((l.tagged || !tagOnly) && std::regex_search(l.text, entry))
      return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: " << argv[0] << " agenthost.8 agentctl.8\n";
    return 2;
  }
  auto const host = pageLines(argv[1]);
  auto const ctl = pageLines(argv[2]);
  int missing = 0;
  auto need = [&missing](bool found, char const* page, std::string const& what) {
    if (!found) {
      std::cout << page << " has no entry for " << what << "\n";
      ++missing;
    }
  };
  for (auto const& name : Host::optionNames())
    need(described(host, name, true), "agenthost(8)", "the option " + name);
  for (auto const& name : Host::Ctl::optionNames())
    need(described(ctl, name, true), "agentctl(8)", "the option " + name);
  Host::workbenchControlInstall();
  for (auto const& command : Host::controlCommands()) {
    need(described(ctl, command.name, false), "agentctl(8)",
         std::string("the command ") + command.name);
    if (!command.subcommands)
      continue;
    for (auto const& word : command.subcommands()) {
      auto const words = std::string(command.name) + " " + word;
      need(described(ctl, words, false), "agentctl(8)", "the command " + words);
    }
  }
  if (missing)
    std::cout << missing
              << " missing; each option and command the programs take is described "
                 "in their manual page\n";
  return missing ? 1 : 0;
}
