#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/show/Metrics.h"

namespace prometheus {
class Collectable;
}  // namespace prometheus

namespace Host {

// /metrics over HTTP, served by one thread of its own that waits on every
// connection at once and never blocks on any: a client that connects and
// sends nothing, or a byte now and then, holds nothing but its own
// connection, and only until its request has taken kRequestTimeoutMs. At
// most kMaxConnections are kept; a new one beyond that pushes out the
// oldest. Each answer closes its connection. IPv4 and IPv6 alike.
class MetricsEndpoint : public MetricsServer {
 public:
  static constexpr unsigned kMaxConnections = 16;
  static constexpr int kRequestTimeoutMs = 3000;

  // Listens and starts serving (nothing yet: serve() gives the metrics).
  // Throws std::runtime_error naming the address and the kernel's reason,
  // with what to check, when it cannot listen there. The serving thread
  // blocks every signal: they are the loop's.
  explicit MetricsEndpoint(MetricsAddress const& address);
  ~MetricsEndpoint() override;

  void serve(Metrics const& m) override;
  void withdraw(Metrics const& m) override;
  std::string url() const override;

 private:
  struct Connection;
  void run();
  // The answer to one request (its head, up to the empty line).
  std::string answer(std::string const& head);

  MetricsAddress address_;
  int listen_ = -1;
  int wake_[2] = {-1, -1};  // a byte on it ends the serving thread
  std::mutex mutex_;        // guards what is served
  std::vector<std::weak_ptr<prometheus::Collectable>> served_;
  std::thread thread_;
};

}  // namespace Host
