#pragma once

#include <string>

namespace Host {

// The host's own lines: on stdout, and its complaints on stderr, each with
// the journal's priority when the stream is the journal.

// Looks once whether stdout and stderr are the journal's streams.
void detectJournal();
bool stdoutIsJournal();
bool stderrIsJournal();
void say(std::string const& text);
void complain(std::string const& text);

}  // namespace Host
