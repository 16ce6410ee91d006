#pragma once

#include <functional>
#include <iosfwd>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

// agentctl: the client of agenthost's control socket (host/ControlProtocol.h).
namespace Host::Ctl {

// Exit statuses of agentctl.
enum ExitStatus { kExitOk = 0, kExitRefused = 1, kExitUsage = 2, kExitNoHost = 3 };

// No answer from a host: nothing listens, the connection is not allowed, or
// the answer is missing or not a response.
class NoAnswer : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Sends one request and returns the host's response object. Throws NoAnswer.
nlohmann::ordered_json request(std::string const& socketPath, std::vector<std::string> const& argv,
                               double timeoutSeconds = 30);

// What agentctl adds on its own side to a good response to `command`
// before printing it.
using Amend =
    std::function<void(std::vector<std::string> const& command, nlohmann::ordered_json& response)>;

// The whole program on its arguments (without the program name): prints
// the response's text on out, or its error on err (the JSON response on out
// with --json), and returns the exit status.
int run(std::vector<std::string> const& args, std::ostream& out, std::ostream& err,
        Amend const& amend = {});

// `show status INTERFACE` from a host under the journal: the interface's
// recent journal lines after the text, and as "journalLines" in the result
// (or why they cannot be read, as "journalError").
void addJournalLines(std::vector<std::string> const& command, nlohmann::ordered_json& response);

std::string usage();

// Each name of agentctl's own options ("-h", "--help", "--json", ...).
std::vector<std::string> optionNames();

}  // namespace Host::Ctl
