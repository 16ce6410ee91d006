#pragma once

#include <cstdio>
#include <string>

namespace Host {

// Writes a whole line to stdout and flushes it. When the reader of stdout
// has gone (EPIPE: the host ignores SIGPIPE), says so once on stderr and
// drops every later line: the host runs on.
void stdoutLine(std::string const& line);

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
