#include "host/os/ServiceManager.h"

#include "host/os/HostLibrary.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace Host {

bool journalStream(int fd) {
  char const* env = std::getenv("JOURNAL_STREAM");
  if (!env || !*env)
    return false;
  unsigned long long dev = 0, ino = 0;
  if (std::sscanf(env, "%llu:%llu", &dev, &ino) != 2)
    return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0)
    return false;
  return st.st_dev == dev && st.st_ino == ino;
}

ServiceManager::ServiceManager() {
  char const* socket = std::getenv("NOTIFY_SOCKET");
  active_ = socket && *socket;
  if (!active_)
    return;
  using Entry = ServiceProtocol const* (*)();
  protocol_ = reinterpret_cast<Entry>(
      hostLibraryEntry(kServiceLibrary, kServiceProtocolSymbol,
                       "the service manager's protocol (NOTIFY_SOCKET is set)"))();
  watchdog_ = static_cast<Kiv::Seconds>(protocol_->watchdogUsec()) / 1e6;
}

int ServiceManager::send(std::string const& state) {
  return active_ ? protocol_->notify(state.c_str()) : 0;
}

void ServiceManager::ready() {
  send(status_.empty() ? "READY=1" : "READY=1\nSTATUS=" + status_);
}

void ServiceManager::statusIs(std::string const& text) {
  if (text == status_)
    return;
  if (int r = send("STATUS=" + text); r < 0)
    throw std::runtime_error("cannot send the status line to the service manager: " +
                             std::string(std::strerror(-r)));
  status_ = text;
}

void ServiceManager::reloading() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  auto usec = static_cast<unsigned long long>(ts.tv_sec) * 1000000ULL +
              static_cast<unsigned long long>(ts.tv_nsec) / 1000ULL;
  send("RELOADING=1\nMONOTONIC_USEC=" + std::to_string(usec));
}

void ServiceManager::stopping() {
  send("STOPPING=1");
}

void ServiceManager::watchdogPing() {
  send("WATCHDOG=1");
}

void ServiceManager::watchdogIntervalIs(Kiv::Seconds interval) {
  send("WATCHDOG_USEC=" + std::to_string(static_cast<unsigned long long>(interval * 1e6)));
}

ServiceWatchdog::ServiceWatchdog(ServiceManager& manager, std::function<std::uint64_t()> progress,
                                 std::function<Kiv::Seconds()> stallLimit,
                                 std::function<void(bool stalled, Kiv::Seconds idle)> tell,
                                 std::function<bool(Kiv::Seconds limit)> announce)
    : manager_(manager),
      progress_(std::move(progress)),
      stallLimit_(std::move(stallLimit)),
      tell_(std::move(tell)),
      announce_(std::move(announce)),
      lastCount_(progress_()),
      lastMove_(Kiv::EventLoop::instance().now()) {
  if (manager_.active() && manager_.watchdogInterval() > 0)
    arm(lastMove_ + manager_.watchdogInterval() / 2);
}

void ServiceWatchdog::onTimer() {
  auto const now = Kiv::EventLoop::instance().now();
  if (auto count = progress_(); count != lastCount_) {
    lastCount_ = count;
    lastMove_ = now;
    held_ = 0;
  }
  // A limit that was longer since the last move still holds: a shorter poll
  // period takes effect only after the wait the longer one armed.
  held_ = std::max(held_, stallLimit_());
  auto const limit = held_;
  bool const longer = limit > manager_.watchdogInterval() && (!announce_ || announce_(limit));
  if (longer ? limit != announced_ : announced_ != 0) {
    announced_ = longer ? limit : 0;
    manager_.watchdogIntervalIs(longer ? limit : manager_.watchdogInterval());
  }
  bool const stalled = now - lastMove_ > limit;
  if (stalled != stalled_) {
    stalled_ = stalled;
    tell_(stalled, now - lastMove_);
  }
  if (!stalled)
    manager_.watchdogPing();
  arm(now + manager_.watchdogInterval() / 2);
}

}  // namespace Host
