// libagenthost-service.so: the journal's side, sending the host's events
// with their fields and reading a management interface's lines back.

#include <sys/uio.h>
#include <systemd/sd-id128.h>
#include <systemd/sd-journal.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "host/os/Journal.h"

namespace {

int send(char const* const* fields, std::size_t count) {
  std::vector<iovec> iov(count);
  for (std::size_t i = 0; i < count; ++i)
    iov[i] = {const_cast<char*>(fields[i]), std::strlen(fields[i])};
  return ::sd_journal_sendv(iov.data(), static_cast<int>(count));
}

// One field's value of the current entry, or empty.
std::string field(sd_journal* j, char const* name) {
  void const* data = nullptr;
  std::size_t length = 0;
  if (::sd_journal_get_data(j, name, &data, &length) < 0)
    return {};
  std::size_t const skip = std::strlen(name) + 1;  // "NAME="
  return length > skip ? std::string(static_cast<char const*>(data) + skip, length - skip) : "";
}

// The current entry as journalctl's short output shows it.
std::string shortLine(sd_journal* j) {
  std::uint64_t usec = 0;
  char when[32] = "";
  if (::sd_journal_get_realtime_usec(j, &usec) >= 0) {
    std::time_t const t = static_cast<std::time_t>(usec / 1000000);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    std::strftime(when, sizeof when, "%b %d %H:%M:%S", &tm);
  }
  auto ident = field(j, "SYSLOG_IDENTIFIER");
  if (ident.empty())
    ident = field(j, "_COMM");
  auto pid = field(j, "_PID");
  return std::string(when) + " " + ident + (pid.empty() ? "" : "[" + pid + "]") + ": " +
         field(j, "MESSAGE");
}

int read(char const* const* matches, std::size_t matchCount, unsigned count,
         void (*line)(void*, char const*), void* context) {
  sd_journal* j = nullptr;
  int r = ::sd_journal_open(&j, SD_JOURNAL_LOCAL_ONLY);
  if (r < 0)
    return r;
  sd_id128_t boot{};
  char bootMatch[64] = "";
  if (::sd_id128_get_boot(&boot) >= 0) {
    char id[SD_ID128_STRING_MAX];
    std::snprintf(bootMatch, sizeof bootMatch, "_BOOT_ID=%s", ::sd_id128_to_string(boot, id));
  }
  for (std::size_t i = 0; i < matchCount && r >= 0; ++i)
    r = ::sd_journal_add_match(j, matches[i], 0);
  if (r >= 0 && *bootMatch)
    r = ::sd_journal_add_match(j, bootMatch, 0);
  if (r >= 0)
    r = ::sd_journal_seek_tail(j);
  // Back `count` entries from the end, then forward: oldest first.
  unsigned found = 0;
  while (r >= 0 && found < count && (r = ::sd_journal_previous(j)) > 0)
    ++found;
  // The entry read last going back is the oldest of them.
  if (r >= 0 && found > 0) {
    for (unsigned i = 0; i < found; ++i) {
      line(context, shortLine(j).c_str());
      if (i + 1 < found && ::sd_journal_next(j) <= 0)
        break;
    }
  }
  ::sd_journal_close(j);
  return r < 0 ? r : static_cast<int>(found);
}

bool readable() {
  sd_journal* j = nullptr;
  if (::sd_journal_open(&j, SD_JOURNAL_LOCAL_ONLY) < 0)
    return false;
  bool const any =
      ::sd_journal_has_runtime_files(j) > 0 || ::sd_journal_has_persistent_files(j) > 0;
  ::sd_journal_close(j);
  return any;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) Host::JournalProtocol const*
agenthostJournalProtocol() {
  static Host::JournalProtocol const protocol{send, read, readable};
  return &protocol;
}
