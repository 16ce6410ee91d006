#pragma once

#include <prometheus/collectable.h>

#include <vector>

namespace Host {

// The host process as every Prometheus client shows its own: resident and
// virtual memory, CPU time, start time, open and most descriptors, read from
// the kernel at each collection (on the scraping thread; it touches nothing
// of the agent's).
class ProcessCollector : public prometheus::Collectable {
 public:
  std::vector<prometheus::MetricFamily> Collect() const override;
};

}  // namespace Host
