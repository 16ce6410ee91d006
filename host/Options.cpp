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
  agenthost [OPTIONS] APPLIANCE.yaml
      Starts the agent on the appliance described in the file, on the
      simulated BCM53134 chip, in real time, until Ctrl-C (SIGINT) or SIGTERM.
      Prints each change of the published switch status on stdout and the
      agent's trace lines on stderr. Lines typed on stdin are scenario steps
      carried out at once, e.g.
          link: {port: 1, state: down}
          expect: {port: 1, linkStatus: 0}
      While it runs, agentctl reads and changes the agent through the
      control socket (see --control), and SIGHUP re-reads the file and
      applies what changed. Started by a service manager (NOTIFY_SOCKET),
      it reports readiness, status and watchdog keep-alives to it.
  agenthost --probe APPLIANCE.yaml
      Reads, per port of every management interface, the PHY identifier,
      MII status (the link), extended control and auxiliary control from the
      appliance's MDIO bus, prints them and exits: the first thing to run on
      a new appliance (mdio: {transport: mii-ioctl, netdev: NAME}). Exits 3
      with what to check when the bus cannot be reached.
  agenthost [OPTIONS] --scenario SCENARIO.yaml
      Runs a scenario in virtual time and prints its timeline; exits 0 when
      every expectation held, 1 otherwise. With --real-time the steps run at
      their times in real time, and agentctl can look on and step in.
  agenthost --replay RECORD.jsonl [--as-scenario]
      Replays a bus record made with --record (or agentctl record start)
      in virtual time, or prints it as a scenario for the simulated chip.

Options:
  --scenario FILE   run the scenario in FILE (see README.md for the format)
  --check           only read and check the appliance or scenario file
  --probe           only probe the appliance's MDIO bus (see above)
  --real-time       run the scenario's steps in real time (Ctrl-C or SIGTERM
                    stops early, and the steps not run count as failed)
  --control PATH    the control socket for agentctl in real-time runs
                    (default: /run/agenthost/control.sock as root, else
                    $XDG_RUNTIME_DIR/agenthost/control.sock, else
                    /tmp/agenthost-UID/control.sock); made with mode 0600,
                    only this user and root may connect. When another host
                    answers on the default path, this one runs without one
  --no-control      no control socket
  --trace SPEC      trace levels per facility, e.g. "Bcm53134Agent/0,1 CpuIfMgr/0-8"
                    ("*" is every facility, levels as 0,1,8 or 0-8 or none);
                    overrides the TRACE environment variable. Defaults:
                    "Bcm53134Agent/0,1 CpuIfMgr/0,1 Mdio/0" when running,
                    the scenario's own "trace:" (level 0) in scenarios
  --record FILE     write every MDIO bus access to FILE, a bus record (JSON
                    Lines, see README.md "Field records"), from the agent's
                    start; refused at start-up when FILE cannot be made
  --record-limit SIZE
                    stop the record, with a line saying so, before it passes
                    SIZE bytes (k, M, G: KiB, MiB, GiB; default 4M)
  --replay FILE     run the appliance of the bus record FILE in virtual time
                    against a bus that answers from the record; prints the
                    timeline, exits 0 when the agent made the recorded
                    accesses and 1 at the first difference (with the line)
  --as-scenario     with --replay: print a scenario that makes the record's
                    link and register changes on the simulated chip
  --status FILE     keep the switch status (link status per port, error
                    text) as JSON in FILE, replaced atomically on every change
  --metrics [ADDRESS:]PORT
                    serve the metrics on http://ADDRESS:PORT/metrics for
                    Prometheus (a port alone binds the loopback address; the
                    option alone serves on 127.0.0.1:9534); real-time runs
  --metrics-textfile FILE
                    keep the same metrics in FILE for node_exporter's
                    textfile collector, replaced atomically on every change
                    and at most once a second
  --netns[=NAME]    make the appliance's CPU netdevices as macvlan devices in a
                    private network namespace (named NAME, default
                    agenthost-PID, when root; unnamed inside a user
                    namespace otherwise) and run the agent's netlink
                    operations there; fail if no namespace can be made
  --keep-netns      keep that namespace after exit, for "ip -n NAME ..."
  --sim-cpu         use the simulated CPU interface manager instead
                    (default: a private namespace when one can be made,
                    else the simulated manager; the host says which)
  --agent NAME      agent to load, from libNAME.so (default Bcm53134Agent)
  --agent-dir DIR   load the agent library from DIR (default: beside the
                    host, in ../lib of a build or the installed library
                    directory; --lib-dir DIR is the same)
  --version         the program's version
  --help            this text

Exit status: 0 success (every expectation held); 1 a scenario expectation
failed; 2 bad command line or input file (the message names file and line);
3 the agent, the namespace or the MDIO bus could not be set up (for
mdio.transport mii-ioctl the host refuses a netdevice whose switch the
kernel's own driver owns, then reads every management-interface port's PHY
identifier before it starts the agent).
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
