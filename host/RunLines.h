#pragma once

#include <functional>
#include <memory>
#include <string>

#include "host/Options.h"
#include "host/os/Signals.h"

namespace Host {

class RunningAgent;

// The host's own lines and the pieces the appliance run and the scenario
// run share around their set-up.

// Looks once whether stdout and stderr are the journal's streams.
void detectJournal();
bool stdoutIsJournal();
bool stderrIsJournal();
// A line of the host's on stdout, and a complaint on stderr, each with the
// journal's priority when the stream is the journal.
void say(std::string const& text);
void complain(std::string const& text);
// --trace, else TRACE, else the fallback.
std::string traceSpecText(Options const& o, std::string const& fallback);
// The signals of a real-time run, or null after saying why they cannot be
// had.
std::unique_ptr<Signals> stopSignals();
// Starts the bus record of --record, before the agent starts; false when
// there is none. Throws std::runtime_error when it cannot be made.
bool startRecord(Options const& o, RunningAgent& agent,
                 std::function<void(std::string const&)> const& tell);
// Ends a bus record still being written, with its summary line.
void endRecord(RunningAgent& agent, std::function<void(std::string const&)> const& tell);

}  // namespace Host
