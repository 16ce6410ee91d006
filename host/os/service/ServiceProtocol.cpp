// libagenthost-service.so: the host's one use of libsystemd, loaded only
// when the service manager started the host.

#include <systemd/sd-daemon.h>

#include "host/os/ServiceManager.h"

namespace {

int notify(char const* state) {
  return ::sd_notify(0, state);
}

std::uint64_t watchdogUsec() {
  std::uint64_t usec = 0;
  return ::sd_watchdog_enabled(0, &usec) > 0 ? usec : 0;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) Host::ServiceProtocol const*
agenthostServiceProtocol() {
  static Host::ServiceProtocol const protocol{notify, watchdogUsec};
  return &protocol;
}
