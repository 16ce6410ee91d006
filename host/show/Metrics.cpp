#include "host/show/Metrics.h"

#include <arpa/inet.h>

#include <stdexcept>

namespace Host {

std::string MetricsAddress::text() const {
  return (ipv6() ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

MetricsAddress metricsAddress(std::string const& text) {
  auto refuse = [&text]() {
    auto const p = std::to_string(kMetricsPort);
    return std::invalid_argument("--metrics wants [ADDRESS:]PORT with a numeric address (e.g. " +
                                 p + ", 0.0.0.0:" + p + " or [::1]:" + p + "), not '" +
                                 text.substr(0, 80) + (text.size() > 80 ? "...'" : "'"));
  };
  MetricsAddress a;
  auto const colon = text.rfind(':');
  std::string const port = colon == std::string::npos ? text : text.substr(colon + 1);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
    throw refuse();
  a.port = static_cast<unsigned>(std::stoul(port));
  if (a.port > 65535)
    throw refuse();
  if (colon == std::string::npos) {
    a.host = "127.0.0.1";
    return a;
  }
  std::string host = text.substr(0, colon);
  bool const bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
  if (bracketed)
    host = host.substr(1, host.size() - 2);
  unsigned char buf[16];
  if (::inet_pton(bracketed ? AF_INET6 : AF_INET, host.c_str(), buf) != 1)
    throw refuse();
  a.host = host;
  return a;
}

std::string metricsBindAddress(std::string const& text) {
  return metricsAddress(text).text();
}

}  // namespace Host
