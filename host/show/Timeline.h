#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace Host {

// Writes a whole line to stdout and flushes it. When the reader of stdout
// has gone (EPIPE: the host ignores SIGPIPE), says so once on stderr and
// drops every later line: the host runs on.
void stdoutLine(std::string const& line);

// Under the journal, the host's event lines may go as entries of their own
// (with fields) rather than as lines of its stream: `send` is given the
// kind ("status", "trace", "host"), the text and the line as the stream
// would carry it (without the priority), and says whether it took it. None
// is set outside the journal.
using JournalEntrySend = std::function<bool(std::string const& kind, std::string const& text,
                                            std::string const& message)>;
void journalEntriesTo(JournalEntrySend send);
// Whether event lines go to the journal as entries of their own.
bool journalEntriesOn();
// True when the line went to the journal as an entry of its own.
bool sentToJournal(std::string const& kind, std::string const& text, std::string const& message);

// Times and texts for the user, one line each: "   4.000  event   link 1 down".
// For the journal (`journal`: the output is the journal's stream) a line
// carries no time of its own and opens with the priority the journal reads
// from a stream: "<4>status  error: ..." for a published error, "<5>" for
// other status changes, "<6>" for the rest.
class Timeline {
 public:
  explicit Timeline(std::FILE* out, bool journal = false) : out_(out), journal_(journal) {}
  void line(std::string const& kind, std::string const& text) const;
  // A line without a time, for what happens outside the loop.
  void note(std::string const& text) const;

 private:
  void write(std::string const& line) const;
  std::FILE* out_;
  bool journal_;
};

}  // namespace Host
