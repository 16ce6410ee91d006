#pragma once

#include <cstddef>
#include <string>

#include <nlohmann/json_fwd.hpp>

// The control socket's protocol, shared by agenthost and agentctl. One
// request per line, answered by one response line, both JSON objects:
//   {"argv": ["get", "bcm53134Sm", "pollPeriod"]}
//   {"ok": true, "text": "2", "result": {...}}
//   {"ok": false, "error": "type Bcm53134::Agent::Bcm53134Sm has no attribute pollPeriodd"}
// "text" is what agentctl prints; "result" is the same for programs.
namespace Host::Control {

// A longer request is refused and its connection closed.
constexpr std::size_t kMaxRequestBytes = 64 * 1024;

// What the one asking may do, told by the credentials of its connection:
// the host's own user and root change things (every command); members of
// the socket's group only look (the commands that change nothing).
enum class Access { look, change };

// Where the service's host listens (the unit's RuntimeDirectory), and root's
// default.
constexpr char const* kServiceSocketPath = "/run/agenthost/control.sock";

// Where the host listens unless told otherwise: /run/agenthost/control.sock
// as root, else $XDG_RUNTIME_DIR/agenthost/control.sock, else
// /tmp/agenthost-UID/control.sock.
std::string defaultSocketPath();

// A request or response as it is written, on one line or indented by
// `indent`: text that is not UTF-8 (a path, a value read from the agent)
// has its bad bytes replaced (U+FFFD) rather than losing the message.
std::string jsonText(nlohmann::ordered_json const& j, int indent = -1);

// The commands with a line on each, for agentctl's usage and the host's
// answer to "help".
std::string commandSummary();

}  // namespace Host::Control
