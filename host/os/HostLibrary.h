#pragma once

#include <string>
#include <vector>

namespace Host {

// Where the host's own libraries are: ../lib beside the executable in a
// build, the private library directory (e.g. ../lib/x86_64-linux-gnu/agenthost)
// when installed. Empty when the executable cannot be found.
std::vector<std::string> hostLibraryDirs();

// Opens one of the host's optional libraries (`file`, e.g.
// libagenthost-metrics.so) from the first of hostLibraryDirs() that has it
// and returns its entry point `symbol`. Only those directories are looked
// in: the library belongs to this host and no other copy will do. The
// library stays loaded until the process ends. Throws std::runtime_error
// starting "cannot load <purpose>: " with where it was looked for, or the
// loader's reason.
void* hostLibraryEntry(std::string const& file, char const* symbol, std::string const& purpose);

}  // namespace Host
