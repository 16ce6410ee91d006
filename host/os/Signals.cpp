#include "host/os/Signals.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/kiv/EventLoop.h"

namespace Host {

namespace {

sigset_t handled() {
  sigset_t s;
  sigemptyset(&s);
  sigaddset(&s, SIGINT);
  sigaddset(&s, SIGTERM);
  sigaddset(&s, SIGHUP);
  return s;
}

}  // namespace

void blockHostSignals() {
  sigset_t s = handled();
  ::pthread_sigmask(SIG_BLOCK, &s, nullptr);
}

Signals::Signals() {
  blockHostSignals();
  sigset_t s = handled();
  fd_ = ::signalfd(-1, &s, SFD_CLOEXEC | SFD_NONBLOCK);
  if (fd_ < 0)
    throw std::runtime_error(std::string("signalfd: ") + std::strerror(errno));
  Kiv::EventLoop::instance().fdWatchIs(fd_, [this] { readable(); });
}

Signals::~Signals() {
  Kiv::EventLoop::instance().fdWatchDel(fd_);
  ::close(fd_);
}

void Signals::readable() {
  signalfd_siginfo si;
  bool hangup = false;
  while (::read(fd_, &si, sizeof si) == sizeof si) {
    if (si.ssi_signo == SIGHUP)
      hangup = true;
    else
      stoppedBy_ = si.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM";
  }
  if (!stoppedBy_.empty())
    Kiv::EventLoop::instance().stop();
  else if (hangup && hangup_)
    hangup_();
}

}  // namespace Host
