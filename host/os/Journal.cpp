#include "host/os/Journal.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "host/os/HostLibrary.h"
#include "host/os/ServiceManager.h"

namespace Host {

JournalProtocol const& journalProtocol() {
  static JournalProtocol const* protocol = nullptr;
  if (!protocol) {
    using Entry = JournalProtocol const* (*)();
    protocol = reinterpret_cast<Entry>(
        hostLibraryEntry(kServiceLibrary, kJournalProtocolSymbol, "the journal's API"))();
  }
  return *protocol;
}

namespace {

std::vector<JournalLink> currentLinks;

bool startsWith(std::string const& s, std::string_view prefix) {
  return s.rfind(prefix, 0) == 0;
}

}  // namespace

std::vector<std::string> journalFields(std::string_view kind, std::string const& text,
                                       std::string const& message,
                                       std::vector<JournalLink> const& links) {
  char const* id = nullptr;
  int priority = 6;
  std::string interface, netdev;
  int port = -1;
  auto byInterface = [&](std::string const& name) {
    for (auto const& l : links) {
      if (l.interface == name)
        return &l;
    }
    return static_cast<JournalLink const*>(nullptr);
  };
  if (kind == "status") {
    unsigned p = 0, status = 0;
    if (std::sscanf(text.c_str(), "port %u link status %u (", &p, &status) != 2 || status > 1)
      return {};
    id = status == 0 ? JournalIds::kLinkDown : JournalIds::kLinkUp;
    priority = status == 0 ? 4 : 5;
    port = static_cast<int>(p);
    for (auto const& l : links) {
      if (l.externalPort == p || l.internalPort == p) {
        interface = l.interface;
        netdev = l.netdev;
      }
    }
  } else if (kind == "host" && startsWith(text, "protodown restored on ")) {
    id = JournalIds::kProtodownRestored;
    priority = 5;
    auto const from = std::strlen("protodown restored on ");
    auto const open = text.find(" (", from), close = text.find(')', from);
    if (open == std::string::npos || close == std::string::npos || close < open)
      return {};
    netdev = text.substr(from, open - from);
    interface = text.substr(open + 2, close - open - 2);
  } else if (kind == "trace" && text.find(", detected a corrupted ") != std::string::npos) {
    id = JournalIds::kRegisterRepaired;
    priority = 4;
    auto const at = text.find(": interface ");
    auto const comma = text.find(", detected a corrupted ");
    if (at != std::string::npos && at < comma)
      interface = text.substr(at + 12, comma - at - 12);
    if (auto const* l = byInterface(interface)) {
      netdev = l->netdev;
      if (text.find(" on the external port.") != std::string::npos)
        port = static_cast<int>(l->externalPort);
      else if (text.find(" on the internal port.") != std::string::npos)
        port = static_cast<int>(l->internalPort);
    }
  } else if (kind == "host" && startsWith(text, "reload: ")) {
    id = JournalIds::kReloadApplied;
    priority = 5;
  } else if (kind == "host" &&
             (startsWith(text, "reload refused") || startsWith(text, "reload failed: "))) {
    id = JournalIds::kReloadRefused;
    priority = 3;
  } else {
    return {};
  }
  std::vector<std::string> fields{"MESSAGE=" + message, "PRIORITY=" + std::to_string(priority),
                                  "SYSLOG_IDENTIFIER=agenthost", std::string("MESSAGE_ID=") + id};
  if (!interface.empty())
    fields.push_back("INTERFACE=" + interface);
  if (!netdev.empty())
    fields.push_back("NETDEV=" + netdev);
  if (port >= 0)
    fields.push_back("PORT=" + std::to_string(port));
  return fields;
}

void journalLinksIs(std::vector<JournalLink> links) {
  currentLinks = std::move(links);
}

std::function<bool(std::string const&, std::string const&, std::string const&)>
journalEventSender() {
  // A stream that JOURNAL_STREAM names without the journal's own socket
  // beside it (a stand-in, as tests make) takes every line; libsystemd
  // would drop the entries silently there.
  struct stat st {};
  if (::stat("/run/systemd/journal/socket", &st) != 0 || !S_ISSOCK(st.st_mode))
    return {};
  auto const* journal = &journalProtocol();
  return [journal](std::string const& kind, std::string const& text, std::string const& message) {
    auto fields = journalFields(kind, text, message, currentLinks);
    if (fields.empty())
      return false;
    std::vector<char const*> raw;
    for (auto const& f : fields)
      raw.push_back(f.c_str());
    return journal->send(raw.data(), raw.size()) >= 0;
  };
}

std::vector<std::string> interfaceJournal(std::string const& interface, unsigned count) {
  auto const& journal = journalProtocol();
  std::vector<std::string> fields{"INTERFACE=" + interface};
  for (char const* id :
       {JournalIds::kLinkDown, JournalIds::kLinkUp, JournalIds::kProtodownRestored,
        JournalIds::kRegisterRepaired, JournalIds::kReloadApplied, JournalIds::kReloadRefused})
    fields.push_back(std::string("MESSAGE_ID=") + id);
  std::vector<char const*> matches;
  for (auto const& f : fields)
    matches.push_back(f.c_str());
  std::vector<std::string> lines;
  int r = journal.read(
      matches.data(), matches.size(), count,
      [](void* c, char const* text) { static_cast<std::vector<std::string>*>(c)->push_back(text); },
      &lines);
  if (r < 0)
    throw std::runtime_error(std::string("cannot read the journal: ") + std::strerror(-r));
  if (r == 0 && !journal.readable())
    throw std::runtime_error(
        "the journal is not readable for this user (members of systemd-journal or adm may read "
        "it)");
  return lines;
}

}  // namespace Host
