#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/show/StatusExport.h"
#include "platform/hardware/Bcm53134.h"

namespace prometheus {
class Collectable;
}  // namespace prometheus

namespace Host {

// The port we serve metrics on unless told otherwise.
inline constexpr unsigned kMetricsPort = 9534;

// Where the metrics endpoint listens: a numeric IPv4 or IPv6 address and a
// port.
struct MetricsAddress {
  std::string host;  // 127.0.0.1, ::1 (no brackets)
  unsigned port = 0;
  bool ipv6() const noexcept { return host.find(':') != std::string::npos; }
  // "127.0.0.1:9534", "[::1]:9534"
  std::string text() const;
};
// Reads "[ADDRESS:]PORT": PORT alone is on the loopback address, ADDRESS is
// a numeric IPv4 address or an IPv6 address in brackets. Throws
// std::invalid_argument on anything else.
MetricsAddress metricsAddress(std::string const& text);
// metricsAddress(text).text().
std::string metricsBindAddress(std::string const& text);

// The host's metrics in the Prometheus data model, kept up to date from
// what the agent publishes and from the platform the host owns:
//   - the status entity (through the StatusWatcher): link, transitions and
//     last change per port, the error text;
//   - every register transaction, through the register service's observer:
//     failures, implausible reads (judged by the record's own validity rule,
//     read through the generic attribute interface) and writes per register;
//   - after every event of the loop, the state machine's state through the
//     generic attribute interface: cycles begun and completed and their
//     duration; at the end of each cycle, the CPU interface manager's
//     verdict per CPU netdevice;
//   - the kernel's protodown per netdevice, as the host's own netlink
//     watcher reports it;
//   - the host process itself, read from the kernel at each scrape.
// A metric is written only when its value changes, so the steady poll cycle
// allocates nothing. The textfile is rewritten on every change but those of
// the cycle counters (which move every cycle), at most once a second.
// Everything but the scrape runs on the loop's thread; a scrape (another
// thread) reads the registry, which locks for itself.
//
// The implementation, with prometheus-cpp, lives in a library of its own
// (kMetricsLibrary), which the host loads only for a run that keeps metrics.
class Metrics {
 public:
  virtual ~Metrics() = default;

  // The agent's root (null when it is gone): the start of every attribute
  // path the metrics read.
  virtual void rootIs(Orba::Node* root) = 0;
  // The published status changed.
  virtual void statusIs(StatusSnapshot const& status, LinkHistories const& history) = 0;
  // The kernel's protodown of a CPU netdevice (empty: the device is gone).
  virtual void kernelProtodownIs(std::string const& netdev, std::optional<bool> on) = 0;

  // What a scrape would see, in the text exposition format.
  virtual std::string text() const = 0;
  // The value of one sample, by metric name and exact labels (a histogram's
  // _count and _sum, and _bucket with its "le" label, count as samples).
  virtual std::optional<double> sample(std::string const& name,
                                       std::map<std::string, std::string> const& labels) const = 0;
  // Writes the textfile now, if there is one.
  virtual void writeTextfile() = 0;
  // What an endpoint serves of them (the library's own collectables).
  virtual std::vector<std::shared_ptr<prometheus::Collectable>> collectables() const = 0;
};

// The HTTP endpoint that serves /metrics. Made before the agent starts and
// before any network namespace is entered, so that it listens in the host's
// own namespace and its threads start with the stop signals blocked.
class MetricsServer {
 public:
  virtual ~MetricsServer() = default;
  // Serves the metrics until withdrawn.
  virtual void serve(Metrics const& m) = 0;
  virtual void withdraw(Metrics const& m) = 0;
  // "http://127.0.0.1:9534/metrics", with the port actually bound.
  virtual std::string url() const = 0;
};

// What the metrics library exports under kMetricsModuleSymbol.
struct MetricsModule {
  // textfile: the file for node_exporter's textfile collector, or empty;
  // report hears that it cannot be written, and that it can again
  // (OutputHealth).
  std::unique_ptr<Metrics> (*metrics)(Orba::Ptr<Hardware::Bcm53134::Config> config,
                                      std::string const& textfile,
                                      std::function<void(std::string const&)> report);
  // Throws std::runtime_error, saying why in the kernel's words, when it
  // cannot listen there.
  std::unique_ptr<MetricsServer> (*server)(MetricsAddress const& address);
};
inline constexpr char const* kMetricsLibrary = "libagenthost-metrics.so";
inline constexpr char const* kMetricsModuleSymbol = "agenthostMetricsModule";

}  // namespace Host
