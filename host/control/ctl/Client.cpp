#include "host/control/ctl/Client.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ostream>

#include <CLI/CLI.hpp>

#include "host/control/ctl/CliRefusal.h"

#include "host/control/ControlProtocol.h"

namespace Host::Ctl {

namespace {

using Json = nlohmann::ordered_json;

// Closes the descriptor however the request ends.
struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0)
      ::close(fd);
  }
};

std::string connectError(std::string const& path, int err) {
  switch (err) {
    case ENOENT:
      return "no control socket at " + path +
             " (is agenthost running? --socket PATH names another)";
    case ECONNREFUSED:
      return "nothing answers on " + path + " (left behind by a host that is gone?)";
    case EACCES:
    case EPERM:
      return path +
             ": permission denied (the control socket is for the host's user, root, and to "
             "look, the members of its group)";
    default:
      return path + ": " + std::strerror(err);
  }
}

// The socket when none is named: the one a host run by this user makes, or,
// when there is none, the service's (which its group's members may use;
// anyone else hears that permission is denied there).
std::string defaultSocket() {
  std::string own = Control::defaultSocketPath();
  struct stat st {};
  if (own == Control::kServiceSocketPath || ::lstat(own.c_str(), &st) == 0 || errno != ENOENT)
    return own;
  if (::lstat(Control::kServiceSocketPath, &st) == 0 || errno == EACCES)
    return Control::kServiceSocketPath;
  return own;
}

}  // namespace

Json request(std::string const& socketPath, std::vector<std::string> const& argv,
             double timeoutSeconds) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socketPath.empty() || socketPath.size() >= sizeof addr.sun_path)
    throw NoAnswer("socket path '" + socketPath + "' is empty or too long");
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);

  Fd s{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
  if (s.fd < 0)
    throw NoAnswer(std::string("socket: ") + std::strerror(errno));
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(timeoutSeconds);
  tv.tv_usec = static_cast<suseconds_t>((timeoutSeconds - std::floor(timeoutSeconds)) * 1e6);
  ::setsockopt(s.fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(s.fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  if (::connect(s.fd, reinterpret_cast<sockaddr const*>(&addr), sizeof addr) != 0)
    throw NoAnswer(connectError(socketPath, errno));

  std::string line = Control::jsonText(Json{{"argv", argv}}) + "\n";
  if (line.size() > Control::kMaxRequestBytes)
    throw NoAnswer("the request is longer than " + std::to_string(Control::kMaxRequestBytes) +
                   " bytes");
  // A host that refuses the connection answers at once and closes; its
  // answer is still there to read when sending fails.
  for (std::size_t sent = 0; sent < line.size();) {
    ssize_t n = ::send(s.fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    sent += static_cast<std::size_t>(n);
  }

  std::string in;
  char buf[16384];
  while (in.find('\n') == std::string::npos) {
    ssize_t n = ::recv(s.fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
      throw NoAnswer("no answer from " + socketPath + " within " +
                     std::to_string(static_cast<int>(timeoutSeconds)) + " s");
    if (n <= 0)
      throw NoAnswer("the host at " + socketPath + " closed the connection without an answer");
    in.append(buf, static_cast<std::size_t>(n));
  }
  Json response = Json::parse(in.substr(0, in.find('\n')), nullptr, false);
  if (response.is_discarded() || !response.is_object() || !response.contains("ok") ||
      !response["ok"].is_boolean())
    throw NoAnswer("the answer from " + socketPath + " is not a control response");
  return response;
}

std::string usage() {
  // As root the default is the service's socket itself: named once.
  std::string const own = Control::defaultSocketPath();
  std::string const where =
      own == Control::kServiceSocketPath
          ? own
          : own + "; when there is none, the service's, " + Control::kServiceSocketPath;
  return "Usage: agentctl [--socket PATH] [--json] COMMAND [ARGS...]\n"
         "Looks at and changes the agent in a running agenthost through its control socket\n"
         "(default " +
         where +
         ").\n"
         "\n"
         "Commands: show status, show agent, get, set, call, list, trace, sim, reload,\n"
         "record, hold, help (a running host answers agentctl help with their words).\n"
         "Every command, option and exit status: man agentctl.\n";
}

namespace {

// What agentctl's own options give.
struct CtlWords {
  std::string socket;
  bool json = false, help = false, version = false;
};
using Option = CliOption<CtlWords>;

std::span<Option const> optionTable() {
  static Option const table[] = {
      {"-h,--help", Option::anyFlag, &CtlWords::help},
      {"--json", Option::flag, &CtlWords::json},
      {"--socket", Option::value, nullptr, &CtlWords::socket, "a path"},
      {"--version", Option::flag, &CtlWords::version},
  };
  return table;
}

}  // namespace

std::vector<std::string> optionNames() {
  return cliOptionNames(optionTable());
}

int run(std::vector<std::string> const& args, std::ostream& out, std::ostream& err,
        Amend const& amend) {
  CtlWords w;
  auto& socketPath = w.socket;
  bool const& json = w.json;
  CLI::App app("agentctl");
  // The help text is ours (usage()). Parsing stops at the command: its
  // arguments are the host's to read, whatever they look like.
  app.set_help_flag();
  app.prefix_command();
  app.allow_windows_style_options(false);
  cliOptionsAdd(app, optionTable(), w);
  // The command's own words may be anything; only those before it are ours.
  std::size_t ours = 0;
  while (ours < args.size() && args[ours].rfind("-", 0) == 0 && args[ours] != "--")
    ours += args[ours] == "--socket" ? 2 : 1;
  if (auto why = emptyValueRefusal(args, ours, optionTable()); !why.empty()) {
    err << "agentctl: " << why << "\nTry agentctl --help.\n";
    return kExitUsage;
  }
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (CLI::ParseError const& e) {
    err << "agentctl: " << cliRefusal(e) << "\nTry agentctl --help.\n";
    return kExitUsage;
  }
  if (w.help) {
    out << usage();
    return kExitOk;
  }
  if (w.version) {
    out << versionLine("agentctl") << "\n";
    return kExitOk;
  }
  std::vector<std::string> command = app.remaining();
  if (!command.empty() && command.front() == "--") {
    command.erase(command.begin());
  } else if (!command.empty() && command.front().rfind("--", 0) == 0) {
    err << "agentctl: unknown option " << command.front() << "\nTry agentctl --help.\n";
    return kExitUsage;
  }
  if (command.empty()) {
    err << "agentctl: no command\n" << usage();
    return kExitUsage;
  }
  if (socketPath.empty())
    socketPath = defaultSocket();
  Json response;
  try {
    response = request(socketPath, command);
  } catch (NoAnswer const& e) {
    if (json)
      out << Control::jsonText(Json{{"ok", false}, {"error", e.what()}}, 2) << "\n";
    else
      err << "agentctl: " << e.what() << "\n";
    return kExitNoHost;
  }
  bool ok = response["ok"].get<bool>();
  if (ok && amend)
    amend(command, response);
  if (json) {
    out << Control::jsonText(response, 2) << "\n";
  } else if (ok) {
    auto text = response.value("text", std::string());
    if (!text.empty())
      out << text << "\n";
  } else {
    err << "agentctl: " << response.value("error", std::string("refused")) << "\n";
  }
  return ok ? kExitOk : kExitRefused;
}

}  // namespace Host::Ctl
