#include "host/Options.h"

#include <sys/stat.h>

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

}  // namespace

Options parseOptions(std::vector<std::string> const& args) {
  Options o;
  CLI::App app("agenthost");
  // The help text is ours (usage()); options that CLI11 does not know are
  // refused below with the host's own words, and what is left is positional.
  app.set_help_flag();
  app.allow_extras();
  app.allow_windows_style_options(false);
  bool netns = false, sim = false;
  std::string netnsName;
  app.add_flag("-h,--help", o.help);
  app.add_flag("--check", o.check)->disable_flag_override();
  app.add_flag("--probe", o.probe)->disable_flag_override();
  app.add_option("--scenario", o.scenario);
  app.add_flag("--real-time", o.realTime)->disable_flag_override();
  app.add_option("--control", o.control);
  app.add_flag("--no-control", o.noControl)->disable_flag_override();
  std::string trace;
  app.add_option("--trace", trace);
  app.add_option("--status", o.session.statusFile);
  std::string recordLimit;
  app.add_option("--record", o.record);
  app.add_option("--record-limit", recordLimit);
  app.add_option("--replay", o.replay);
  app.add_flag("--as-scenario", o.asScenario)->disable_flag_override();
  // --netns alone or --netns=NAME; never a separate word, which would be
  // the appliance file.
  app.add_flag("--netns{}", netnsName);
  app.add_flag("--keep-netns", o.session.keepNetns)->disable_flag_override();
  app.add_flag("--sim-cpu", sim)->disable_flag_override();
  app.add_option("--agent", o.session.agentName);
  app.add_option("--agent-dir,--lib-dir", o.session.libDir);
  // --metrics alone, --metrics=VALUE, or --metrics VALUE when the next word
  // looks like [ADDRESS:]PORT (anything else is the appliance file).
  std::string metrics;
  app.add_flag("--metrics{" + std::to_string(kMetricsPort) + "}", metrics);
  app.add_option("--metrics-textfile", o.session.metricsTextfile);

  app.add_flag("--version", o.version)->disable_flag_override();

  auto empty = Ctl::emptyValueRefusal(args, args.size(),
                                      {{"--scenario", "a file name"},
                                       {"--control", "a path"},
                                       {"--trace", "a trace spec"},
                                       {"--status", "a file name"},
                                       {"--netns", "a name"},
                                       {"--agent", "a name"},
                                       {"--agent-dir", "a directory"},
                                       {"--lib-dir", "a directory"},
                                       {"--metrics", "[ADDRESS:]PORT"},
                                       {"--metrics-textfile", "a file name"},
                                       {"--record", "a file name"},
                                       {"--record-limit", "a size"},
                                       {"--replay", "a file name"}});
  if (!empty.empty())
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
  if (o.help || o.version)
    return o;
  std::vector<std::string> positional;
  for (auto const& a : app.remaining()) {
    if (a.size() > 1 && a[0] == '-')
      throw std::invalid_argument("unknown option " + a);
    positional.push_back(a);
  }
  if (app.count("--trace"))
    o.trace = trace;
  netns = app.count("--netns") > 0;
  if (netns)
    o.session.netnsName = netnsName;
  if (app.count("--metrics")) {
    o.metrics = metricsBindAddress(metrics);
    o.session.metrics = true;
  }
  if (app.count("--record-limit")) {
    if (o.record.empty())
      throw std::invalid_argument("--record-limit is for --record");
    o.recordLimit = parseRecordLimit(recordLimit);
  }
  if (o.asScenario && o.replay.empty())
    throw std::invalid_argument("--as-scenario is for --replay");
  if (!o.replay.empty()) {
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

}  // namespace Host
