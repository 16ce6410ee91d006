#pragma once

#include <memory>
#include <string>

#include "host/show/Metrics.h"

namespace prometheus {
class Exposer;
}  // namespace prometheus

namespace Host {

// /metrics over HTTP (prometheus-cpp's exposer, on civetweb). A connection
// holds a worker thread while its request comes in, so there are workers
// for a scraper or two and a few stragglers, and a request that is not in
// whole within kRequestTimeoutMs is dropped: clients that connect and send
// nothing, or a byte now and then, cannot keep a scraper out for long.
class MetricsEndpoint : public MetricsServer {
 public:
  static constexpr unsigned kWorkers = 8;
  static constexpr unsigned kRequestTimeoutMs = 3000;

  // Throws std::runtime_error naming the address and the kernel's reason,
  // with what to check, when it cannot listen there.
  explicit MetricsEndpoint(MetricsAddress const& address);
  ~MetricsEndpoint() override;

  void serve(Metrics const& m) override;
  void withdraw(Metrics const& m) override;
  std::string url() const override;

 private:
  MetricsAddress address_;
  std::unique_ptr<prometheus::Exposer> exposer_;
};

}  // namespace Host
