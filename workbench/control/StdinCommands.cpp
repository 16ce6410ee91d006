#include "workbench/control/StdinCommands.h"

#include <unistd.h>

#include <cerrno>

#include "host/agent/RunningAgent.h"
#include "host/show/Timeline.h"
#include "platform/kiv/EventLoop.h"
#include "workbench/scenario/Scenario.h"

namespace Host {

StdinCommands::StdinCommands(RunningAgent& agent, int fd) : agent_(agent), fd_(fd) {
  Kiv::EventLoop::instance().fdWatchIs(fd_, [this] { readable(); });
}

StdinCommands::~StdinCommands() {
  if (watched_)
    Kiv::EventLoop::instance().fdWatchDel(fd_);
}

void StdinCommands::readable() {
  char buf[1024];
  ssize_t n = ::read(fd_, buf, sizeof buf);
  if (n < 0 && (errno == EINTR || errno == EAGAIN))
    return;
  if (n <= 0) {
    Kiv::EventLoop::instance().fdWatchDel(fd_);
    watched_ = false;
    return;
  }
  pending_.append(buf, static_cast<std::size_t>(n));
  for (std::size_t nl; (nl = pending_.find('\n')) != std::string::npos;) {
    std::string line = pending_.substr(0, nl);
    pending_.erase(0, nl + 1);
    command(line);
  }
}

void StdinCommands::command(std::string const& line) {
  if (line.find_first_not_of(" \t\r") == std::string::npos)
    return;
  try {
    auto step = parseStep(loadYamlText(line, "stdin"), "stdin", "the command", false);
    StepContext w{agent_, nullptr};
    runStep(step, w);
  } catch (InputError const& e) {
    agent_.timeline().line("input", e.what());
  }
}

}  // namespace Host
