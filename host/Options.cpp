#include "host/Options.h"

#include <stdexcept>

#include <CLI/CLI.hpp>

#include "host/control/ctl/CliRefusal.h"

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
  agenthost [OPTIONS] --scenario SCENARIO.yaml
      Runs a scenario in virtual time and prints its timeline; exits 0 when
      every expectation held, 1 otherwise. With --real-time the steps run at
      their times in real time, and agentctl can look on and step in.

Options:
  --scenario FILE   run the scenario in FILE (see README.md for the format)
  --check           only read and check the appliance or scenario file
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
                    "Bcm53134Agent/0,1 CpuIfMgr/0,1" when running,
                    the scenario's own "trace:" (level 0) in scenarios
  --status FILE     keep the switch status (link status per port, error
                    text) as JSON in FILE, replaced atomically on every change
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
  --help            this text

Exit status: 0 success (every expectation held); 1 a scenario expectation
failed; 2 bad command line or input file (the message names file and line);
3 the agent or the namespace could not be set up.
)";
}

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
  app.add_option("--scenario", o.scenario);
  app.add_flag("--real-time", o.realTime)->disable_flag_override();
  app.add_option("--control", o.control);
  app.add_flag("--no-control", o.noControl)->disable_flag_override();
  std::string trace;
  app.add_option("--trace", trace);
  app.add_option("--status", o.session.statusFile);
  // --netns alone or --netns=NAME; never a separate word, which would be
  // the appliance file.
  app.add_flag("--netns{}", netnsName);
  app.add_flag("--keep-netns", o.session.keepNetns)->disable_flag_override();
  app.add_flag("--sim-cpu", sim)->disable_flag_override();
  app.add_option("--agent", o.session.agentName);
  app.add_option("--agent-dir,--lib-dir", o.session.libDir);

  for (auto const& a : args) {
    if (a == "--netns=")
      throw std::invalid_argument("--netns= needs a name");
    if (a == "--control=")
      throw std::invalid_argument("--control needs a path");
  }
  // CLI11 takes the words last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (CLI::ParseError const& e) {
    throw std::invalid_argument(Ctl::cliRefusal(e));
  }
  if (o.help)
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
  if (app.count("--control") && o.control.empty())
    throw std::invalid_argument("--control needs a path");
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
  return o;
}

}  // namespace Host
