#pragma once

#include <string>

#include "host/control/ControlCommands.h"

namespace Host {

class RunningAgent;

// Live control from a terminal: each line read from the descriptor (the
// host's stdin) is a scenario step without `at`, carried out at once on the
// running agent. A line that is not a step is answered on the timeline
// ("input" and the reason) and the host goes on. Reading stops at the end
// of the input.
class StdinCommands final : public TerminalInput {
 public:
  StdinCommands(RunningAgent& agent, int fd);
  ~StdinCommands() override;
  StdinCommands(StdinCommands const&) = delete;
  StdinCommands& operator=(StdinCommands const&) = delete;

  // Reads what the descriptor has and carries out each whole line; the loop
  // calls it when the descriptor is readable.
  void readable();

 private:
  void command(std::string const& line);

  RunningAgent& agent_;
  int fd_;
  bool watched_ = true;
  std::string pending_;
};

}  // namespace Host
