#include "host/show/metrics/MetricsEndpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <prometheus/exposer.h>
#include <prometheus/registry.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "host/show/metrics/AgentMetrics.h"

namespace Host {

namespace {

// What to look at when the address cannot be had, by the kernel's reason.
std::string advice(int err, MetricsAddress const& a) {
  auto const port = std::to_string(a.port);
  switch (err) {
    case EADDRINUSE:
      return "another program listens on port " + port + " (ss -ltnp 'sport = :" + port +
             "'); choose another port with --metrics";
    case EACCES:
      return "ports below 1024 need CAP_NET_BIND_SERVICE; choose a port of 1024 or more";
    case EADDRNOTAVAIL:
      return a.host +
             " is not an address of this machine (ip address show); use one that is, "
             "127.0.0.1 or 0.0.0.0";
    default:
      return "the address and port given to --metrics";
  }
}

// Binds a socket of our own to the address first, so that a refusal is told
// with the kernel's reason (the HTTP library's own message loses it). The
// socket is closed again before the library binds.
void tryBind(MetricsAddress const& a) {
  sockaddr_storage ss{};
  socklen_t len = 0;
  if (a.ipv6()) {
    auto& s6 = reinterpret_cast<sockaddr_in6&>(ss);
    s6.sin6_family = AF_INET6;
    s6.sin6_port = htons(static_cast<std::uint16_t>(a.port));
    ::inet_pton(AF_INET6, a.host.c_str(), &s6.sin6_addr);
    len = sizeof s6;
  } else {
    auto& s4 = reinterpret_cast<sockaddr_in&>(ss);
    s4.sin_family = AF_INET;
    s4.sin_port = htons(static_cast<std::uint16_t>(a.port));
    ::inet_pton(AF_INET, a.host.c_str(), &s4.sin_addr);
    len = sizeof s4;
  }
  int fd = ::socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int err = fd < 0 ? errno : 0;
  if (fd >= 0) {
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (a.ipv6())
      ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0 || ::listen(fd, 1) != 0)
      err = errno;
    ::close(fd);
  }
  if (err) {
    throw std::runtime_error("cannot serve metrics on " + a.text() + ": " + std::strerror(err) +
                             ". Check: " + advice(err, a));
  }
}

}  // namespace

MetricsEndpoint::MetricsEndpoint(MetricsAddress const& address) : address_(address) {
  tryBind(address_);
  try {
    exposer_ = std::make_unique<prometheus::Exposer>(std::vector<std::string>{
        "listening_ports", address_.text(), "num_threads", std::to_string(kWorkers),
        "request_timeout_ms", std::to_string(kRequestTimeoutMs)});
  } catch (std::exception const& e) {
    throw std::runtime_error("cannot serve metrics on " + address_.text() + ": " + e.what());
  }
}

MetricsEndpoint::~MetricsEndpoint() = default;

void MetricsEndpoint::serve(Metrics const& m) {
  auto const& own = static_cast<AgentMetrics const&>(m);
  exposer_->RegisterCollectable(own.registry());
  exposer_->RegisterCollectable(own.process());
}

void MetricsEndpoint::withdraw(Metrics const& m) {
  auto const& own = static_cast<AgentMetrics const&>(m);
  exposer_->RemoveCollectable(own.registry());
  exposer_->RemoveCollectable(own.process());
}

std::string MetricsEndpoint::url() const {
  auto ports = exposer_->GetListeningPorts();
  MetricsAddress bound = address_;
  if (!ports.empty())
    bound.port = static_cast<unsigned>(ports[0]);
  return "http://" + bound.text() + "/metrics";
}

}  // namespace Host
