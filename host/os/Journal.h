#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace Host {

// libsystemd's journal API, from the service library (kServiceLibrary in
// host/os/ServiceManager.h) like the notification protocol: a process that
// neither runs under the journal nor reads it maps no libsystemd. The
// library exports it under kJournalProtocolSymbol.
struct JournalProtocol {
  // sd_journal_sendv of `count` fields, each "NAME=value"; negative errno
  // when the journal does not take the entry.
  int (*send)(char const* const* fields, std::size_t count);
  // The last `count` entries of this boot that match every one of
  // `matches` ("NAME=value"; matches of one name are alternatives), oldest
  // first, each handed to `line` as journalctl's short output shows it:
  // "Dec 08 16:10:01 agenthost[123]: MESSAGE". Returns the number of
  // entries, or a negative errno when the journal cannot be read; 0 also
  // when the caller may read none of the journal's files.
  int (*read)(char const* const* matches, std::size_t matchCount, unsigned count,
              void (*line)(void* context, char const* text), void* context);
  // Whether any journal file is readable to the caller.
  bool (*readable)();
};
inline constexpr char const* kJournalProtocolSymbol = "agenthostJournalProtocol";

// The protocol, loaded on first use. Throws std::runtime_error saying why it
// cannot be loaded.
JournalProtocol const& journalProtocol();

// The message ids of the host's events in the journal (MESSAGE_ID=): fixed,
// so that `journalctl MESSAGE_ID=...` finds one kind of event across
// versions.
namespace JournalIds {
inline constexpr char const* kLinkDown = "0e01bdf1a8124e1ea31107fb8b490bb2";
inline constexpr char const* kLinkUp = "9502454b180147958d801ff08d60f07b";
inline constexpr char const* kProtodownRestored = "be06b14895554d5ab1fa2d5f7a5553aa";
inline constexpr char const* kRegisterRepaired = "6133517e77ce40d39d1328d31ce64abd";
inline constexpr char const* kReloadApplied = "2cca192e8b85453d849f04dc2c619c7a";
inline constexpr char const* kReloadRefused = "41d6f1a0e06d402a876e1f3c9919ba8b";
}  // namespace JournalIds

// A management interface as its events name it: its CPU netdevice (empty:
// none) and its external and internal port.
struct JournalLink {
  std::string interface;
  std::string netdev;
  unsigned externalPort = 0;
  unsigned internalPort = 0;
};

// The journal entry of one of the host's lines, when it tells an event:
// MESSAGE=`message` (the line as the stream would have carried it),
// PRIORITY, SYSLOG_IDENTIFIER=agenthost, MESSAGE_ID of its kind and what
// the line names of INTERFACE, NETDEV and PORT (ports and CPU netdevices
// found through `links`). Empty for a line that tells none. `kind` is the
// timeline's ("status", "trace") or "host" for the host's own lines, whose
// `text` comes without the program's name.
//   status "port 1 link status 0 (linkDown)"               link down, warning
//   status "port 1 link status 1 (linkUp)"                 link up, notice
//   host   "protodown restored on mgmt1 (Management1): ..." notice
//   trace  "...: interface Management1, detected a corrupted ... on the
//           external port. ..."                            register repaired, warning
//   host   "reload: CHANGE"                                reload applied, notice
//   host   "reload refused...", "reload failed: ..."       reload refused, error
std::vector<std::string> journalFields(std::string_view kind, std::string const& text,
                                       std::string const& message,
                                       std::vector<JournalLink> const& links);

// The management interfaces the host's events name from now on.
void journalLinksIs(std::vector<JournalLink> links);

// What sends the host's event lines as entries of their own
// (journalFields, with the links last set): true when the line was one and
// the journal took it. None (empty) where the journal's socket is not
// there to send to. Throws std::runtime_error when the journal's API
// cannot be loaded.
std::function<bool(std::string const& kind, std::string const& text, std::string const& message)>
journalEventSender();

// A management interface's recent lines in the journal, as `networkctl
// status LINK` shows a link's: the last `count` entries of this boot with
// INTERFACE=`interface` and one of the host's message ids. Throws
// std::runtime_error when the journal cannot be read.
std::vector<std::string> interfaceJournal(std::string const& interface, unsigned count);

}  // namespace Host
