#include "host/Options.h"

#include <sys/stat.h>

#include <cstdlib>
#include <span>
#include <stdexcept>
#include <string_view>

#include <CLI/CLI.hpp>

#include "host/control/ControlProtocol.h"
#include "host/control/ctl/CliRefusal.h"
#include "host/os/FileIdentity.h"
#include "host/record/FieldRecord.h"
#include "host/show/Metrics.h"

namespace Host {

std::string usage() {
  return R"(Usage:
  agenthost [OPTIONS] APPLIANCE.yaml         run the agent on the appliance, until SIGTERM
  agenthost --check FILE.yaml                only check the appliance or scenario file
  agenthost --probe APPLIANCE.yaml           only read the ports' PHY registers
  agenthost [OPTIONS] --scenario FILE.yaml   run a scenario in virtual time
  agenthost --replay RECORD.jsonl [--as-scenario]
                                             replay a bus record

Options: --real-time, --control PATH, --no-control, --trace SPEC, --status FILE,
  --record FILE, --record-limit SIZE, --metrics [[ADDRESS:]PORT],
  --metrics-textfile FILE, --netns[=NAME], --keep-netns, --sim-cpu,
  --agent NAME, --agent-dir DIR, --version, --help

Every option, output, signal and exit status: man agenthost; the files:
man agenthost-appliance, man agenthost-scenario, man agenthost-record.
)";
}

namespace {

// The files the run reads and writes, inputs first; an output never names
// an input or another output. Kept in the session, so that a record started
// while it runs is held to the same rule.
std::vector<RunFile> checkedRunFiles(Options const& o) {
  struct File {
    std::string option, what, path;
  };
  std::vector<File> inputs, outputs;
  if (!o.appliance.empty())
    inputs.push_back({"the appliance file", "the appliance file", o.appliance});
  if (!o.scenario.empty())
    inputs.push_back({"the scenario", "the scenario", o.scenario});
  if (!o.replay.empty())
    inputs.push_back({"--replay", "the record replayed", o.replay});
  if (!o.session.statusFile.empty())
    outputs.push_back({"--status", "the status file", o.session.statusFile});
  if (!o.session.metricsTextfile.empty())
    outputs.push_back({"--metrics-textfile", "the metrics textfile", o.session.metricsTextfile});
  if (!o.noControl && ((o.scenario.empty() && o.replay.empty()) || o.realTime))
    outputs.push_back({"--control", "the control socket",
                       o.control.empty() ? Control::defaultSocketPath() : o.control});
  if (!o.record.empty())
    outputs.push_back({"--record", "the record", o.record});
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    auto const& [option, what, path] = outputs[i];
    // A file output is replaced whole: what stands at its name must be such
    // a file (or a link, which is replaced, never followed).
    struct stat st {};
    bool const replaced = option == "--status" || option == "--metrics-textfile";
    if (replaced && ::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
      throw std::invalid_argument(option + " " + path + " is " +
                                  (S_ISDIR(st.st_mode)    ? "a directory"
                                   : S_ISFIFO(st.st_mode) ? "a FIFO"
                                                          : "not a regular file") +
                                  "; " + what + " is replaced whole on every change: name a file");
    for (auto const& in : inputs) {
      if (sameFile(path, in.path))
        throw std::invalid_argument(option + " " + path + " is " + in.what +
                                    "; an output never replaces an input");
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (sameFile(path, outputs[j].path))
        throw std::invalid_argument(outputs[j].option + " and " + option + " name one file, " +
                                    path + "; each output needs a file of its own");
    }
  }
  std::vector<RunFile> r;
  for (auto const* list : {&inputs, &outputs}) {
    for (auto const& f : *list) {
      if (f.option != "--record")
        r.push_back({f.what, f.path});
    }
  }
  return r;
}

bool allDigits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// Whether a word is [ADDRESS:]PORT: digits, after "[ADDRESS]:" (an address
// in brackets, not empty) or "ADDRESS:" (an address without ':', '/' or
// '[', not empty).
bool looksLikeAddressPort(std::string_view w) {
  std::string_view port = w;
  if (!w.empty() && w[0] == '[') {
    auto const close = w.find(']');
    if (close == std::string_view::npos || close < 2 || close + 1 >= w.size() ||
        w[close + 1] != ':')
      return false;
    port = w.substr(close + 2);
  } else if (auto const colon = w.find(':'); colon != std::string_view::npos) {
    auto const address = w.substr(0, colon);
    if (address.empty() || address.find_first_of("/[") != std::string_view::npos)
      return false;
    port = w.substr(colon + 1);
  }
  return allDigits(port);
}

// What the options give, as written; parseOptions makes the Options of it.
struct OptionWords {
  bool help = false, version = false, check = false, probe = false, realTime = false,
       noControl = false, asScenario = false, keepNetns = false, simCpu = false;
  std::string scenario, control, trace, status, record, recordLimit, replay, netns, agentDir,
      metrics, metricsTextfile;
  std::string agent = SessionOptions().agentName;  // the default unless --agent is given
};

using Option = Ctl::CliOption<OptionWords>;
using W = OptionWords;

// Every option of agenthost. --netns is alone or --netns=NAME, never a
// separate word (which would be the appliance file); --metrics also takes
// a separate word that looks like [ADDRESS:]PORT (parseOptions joins it).
std::span<Option const> optionTable() {
  static std::string const metricsPort = std::to_string(kMetricsPort);
  static Option const table[] = {
      {"-h,--help", Option::anyFlag, &W::help},
      {"--check", Option::flag, &W::check},
      {"--probe", Option::flag, &W::probe},
      {"--scenario", Option::value, nullptr, &W::scenario, "a file name"},
      {"--real-time", Option::flag, &W::realTime},
      {"--control", Option::value, nullptr, &W::control, "a path"},
      {"--no-control", Option::flag, &W::noControl},
      {"--trace", Option::value, nullptr, &W::trace, "a trace spec"},
      {"--status", Option::value, nullptr, &W::status, "a file name"},
      {"--record", Option::value, nullptr, &W::record, "a file name"},
      {"--record-limit", Option::value, nullptr, &W::recordLimit, "a size"},
      {"--replay", Option::value, nullptr, &W::replay, "a file name"},
      {"--as-scenario", Option::flag, &W::asScenario},
      {"--netns", Option::optionalValue, nullptr, &W::netns, "a name"},
      {"--keep-netns", Option::flag, &W::keepNetns},
      {"--sim-cpu", Option::flag, &W::simCpu},
      {"--agent", Option::value, nullptr, &W::agent, "a name"},
      {"--agent-dir,--lib-dir", Option::value, nullptr, &W::agentDir, "a directory"},
      {"--metrics", Option::optionalValue, nullptr, &W::metrics, "[ADDRESS:]PORT",
       metricsPort.c_str()},
      {"--metrics-textfile", Option::value, nullptr, &W::metricsTextfile, "a file name"},
      {"--version", Option::flag, &W::version},
  };
  return table;
}

// The options that need no check against the others.
Options plainOptions(OptionWords const& w) {
  Options o;
  o.help = w.help;
  o.version = w.version;
  o.check = w.check;
  o.probe = w.probe;
  o.scenario = w.scenario;
  o.realTime = w.realTime;
  o.control = w.control;
  o.noControl = w.noControl;
  o.session.statusFile = w.status;
  o.record = w.record;
  o.replay = w.replay;
  o.asScenario = w.asScenario;
  o.session.keepNetns = w.keepNetns;
  o.session.agentName = w.agent;
  o.session.libDir = w.agentDir;
  o.session.metricsTextfile = w.metricsTextfile;
  return o;
}

// A replay runs the record's own appliance, in virtual time.
Options replayOptions(Options o, std::vector<std::string> const& positional) {
  if (!o.scenario.empty() || !o.record.empty() || o.realTime || o.probe)
    throw std::invalid_argument(
        "--replay runs the record's own appliance in virtual time; drop --scenario, --record, "
        "--real-time and --probe");
  if (!positional.empty())
    throw std::invalid_argument("a record names its own appliance; drop " + positional[0]);
  o.session.allowHostNetdevs = false;
  o.session.releaseNetnsName = true;
  o.session.files = checkedRunFiles(o);
  return o;
}

// An appliance or a scenario: the options that go together, and the input.
Options runOptions(Options o, bool netns, bool sim, std::vector<std::string> const& positional) {
  if (netns && sim)
    throw std::invalid_argument("--netns and --sim-cpu exclude each other");
  o.session.cpu = netns ? CpuRequest::netns : sim ? CpuRequest::simulated : CpuRequest::automatic;
  if (!o.control.empty() && o.noControl)
    throw std::invalid_argument("--control and --no-control exclude each other");
  if (o.realTime && o.scenario.empty())
    throw std::invalid_argument(
        "--real-time is for scenarios; an appliance always runs in real time");
  if (!o.control.empty() && !o.scenario.empty() && !o.realTime) {
    throw std::invalid_argument(
        "a scenario in virtual time has no control socket; add --real-time");
  }
  if (!o.metrics.empty() && !o.scenario.empty() && !o.realTime) {
    throw std::invalid_argument(
        "a scenario in virtual time serves no metrics (it is over in milliseconds); add "
        "--real-time, or use --metrics-textfile");
  }
  if (o.probe && (o.check || !o.scenario.empty()))
    throw std::invalid_argument("--probe takes an appliance file and no --check or --scenario");
  if (!o.scenario.empty()) {
    if (!positional.empty())
      throw std::invalid_argument("a scenario names its own appliance; drop " + positional[0]);
    o.session.allowHostNetdevs = false;
    o.session.releaseNetnsName = true;
  } else if (positional.size() == 1) {
    o.appliance = positional[0];
  } else if (positional.empty()) {
    throw std::invalid_argument("no appliance file given");
  } else {
    throw std::invalid_argument("one appliance file only, got " + positional[0] + " and " +
                                positional[1]);
  }
  o.session.files = checkedRunFiles(o);
  return o;
}

}  // namespace

std::string traceSpecText(Options const& o, std::string const& fallback) {
  if (o.trace)
    return *o.trace;
  if (char const* env = std::getenv("TRACE"); env && *env)
    return env;
  return fallback;
}

std::vector<std::string> optionNames() {
  return Ctl::cliOptionNames(optionTable());
}

Options parseOptions(std::vector<std::string> const& args) {
  OptionWords w;
  CLI::App app("agenthost");
  // The help text is ours (usage()); options that CLI11 does not know are
  // refused below with the host's own words, and what is left is positional.
  app.set_help_flag();
  app.allow_extras();
  app.allow_windows_style_options(false);
  Ctl::cliOptionsAdd(app, optionTable(), w);
  if (auto empty = Ctl::emptyValueRefusal(args, args.size(), optionTable()); !empty.empty())
    throw std::invalid_argument(empty);
  std::vector<std::string> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--metrics" && i + 1 < args.size() && looksLikeAddressPort(args[i + 1]))
      words.push_back("--metrics=" + args[++i]);
    else
      words.push_back(args[i]);
  }
  // CLI11 takes the words last first.
  std::vector<std::string> reversed(words.rbegin(), words.rend());
  try {
    app.parse(reversed);
  } catch (CLI::ParseError const& e) {
    throw std::invalid_argument(Ctl::cliRefusal(e));
  }
  Options o = plainOptions(w);
  if (o.help || o.version)
    return o;
  std::vector<std::string> positional;
  for (auto const& a : app.remaining()) {
    if (a.size() > 1 && a[0] == '-')
      throw std::invalid_argument("unknown option " + a);
    positional.push_back(a);
  }
  if (app.count("--trace"))
    o.trace = w.trace;
  bool const netns = app.count("--netns") > 0;
  if (netns)
    o.session.netnsName = w.netns;
  if (app.count("--metrics")) {
    o.metrics = metricsBindAddress(w.metrics);
    o.session.metrics = true;
  }
  if (app.count("--record-limit")) {
    if (o.record.empty())
      throw std::invalid_argument("--record-limit is for --record");
    o.recordLimit = parseRecordLimit(w.recordLimit);
  }
  if (o.asScenario && o.replay.empty())
    throw std::invalid_argument("--as-scenario is for --replay");
  if (!o.replay.empty())
    return replayOptions(std::move(o), positional);
  return runOptions(std::move(o), netns, w.simCpu, positional);
}

}  // namespace Host
