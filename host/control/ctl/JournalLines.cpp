// `agentctl show status INTERFACE` under the journal: the interface's recent
// lines, read by agentctl with the rights of whoever runs it (as
// `networkctl status LINK` reads a link's), not by the host.

#include <stdexcept>

#include "host/control/ctl/Client.h"
#include "host/os/Journal.h"

namespace Host::Ctl {

namespace {
constexpr unsigned kJournalLines = 10;
}

void addJournalLines(std::vector<std::string> const& command, nlohmann::ordered_json& response) {
  if (command.size() != 3 || command[0] != "show" || command[1] != "status")
    return;
  auto& result = response["result"];
  if (!result.is_object() || !result.value("journal", false))
    return;
  std::string text = response.value("text", std::string());
  try {
    auto lines = interfaceJournal(command[2], kJournalLines);
    result["journalLines"] = lines;
    text += "\n";
    for (auto const& l : lines)
      text += "\n" + l;
    if (lines.empty())
      text += "\nno journal lines of " + command[2] + " in this boot";
  } catch (std::runtime_error const& e) {
    result["journalError"] = e.what();
    text += "\n\njournal: " + std::string(e.what());
  }
  response["text"] = text;
}

}  // namespace Host::Ctl
