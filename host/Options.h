#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/SessionOptions.h"

namespace Host {

struct Options {
  bool help = false;
  bool version = false;
  bool check = false;                // check the input file and stop
  bool probe = false;                // probe the appliance's MDIO bus and stop
  std::string appliance;             // run mode
  std::string scenario;              // scenario mode
  std::optional<std::string> trace;  // --trace, else TRACE, else the mode's default
  bool realTime = false;             // a scenario's steps at their times in real time
  std::string control;               // control socket; empty: the default path
  bool noControl = false;
  std::string metrics;          // ADDRESS:PORT to serve /metrics on; empty: none
  std::string record;           // the bus record to write; empty: none
  std::size_t recordLimit = 0;  // its size limit; 0: the default
  std::string replay;           // the bus record to replay
  bool asScenario = false;      // print the replay as a scenario instead
  SessionOptions session;
};

// Parses the command line. Throws std::invalid_argument with a message for
// the user on anything it does not understand.
Options parseOptions(std::vector<std::string> const& args);

std::string usage();

// --trace, else TRACE, else the fallback.
std::string traceSpecText(Options const& o, std::string const& fallback);

// Each name of every option parseOptions takes ("-h", "--help", "--check",
// ...), as its table holds them: what the manual must describe.
std::vector<std::string> optionNames();

}  // namespace Host
