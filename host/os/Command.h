#pragma once

#include <string>
#include <vector>

namespace Host {

// Runs a program (found on PATH) with its arguments, no shell involved, with
// every signal unblocked in the child. Returns the exit status (-1 when it
// could not be run or did not exit) and, when asked, its standard output and
// error together.
int runProgram(std::vector<std::string> const& argv, std::string* output = nullptr);

// "ip ARGS...", failing with std::runtime_error that carries the command
// line and its output.
std::string ipOrThrow(std::vector<std::string> const& args);

}  // namespace Host
