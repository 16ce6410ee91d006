#pragma once

#include <memory>
#include <optional>
#include <string>

#include "host/show/Metrics.h"
#include "host/show/OutputHealth.h"
#include "host/show/metrics/AgentObservation.h"
#include "host/show/metrics/MetricFamilies.h"
#include "platform/kiv/EventLoop.h"

namespace prometheus {
class Collectable;
}  // namespace prometheus

namespace Host {

// The metrics library's Metrics: the families, fed by the status, the
// kernel's protodown and the agent observation, the process collector, and
// the textfile.
class AgentMetrics : public Metrics {
 public:
  // How long after a failed write the textfile is tried again.
  static constexpr Kiv::Seconds kTextfileRetry = 5;
  AgentMetrics(Orba::Ptr<Hardware::Bcm53134::Config> config, std::string textfile,
               OutputHealth::Report report);
  ~AgentMetrics() override;

  void rootIs(Orba::Node* root) override { observation_.rootIs(root); }
  void statusIs(StatusSnapshot const& status, LinkHistories const& history) override;
  void kernelProtodownIs(std::string const& netdev, std::optional<bool> on) override;
  std::string text() const override;
  std::optional<double> sample(std::string const& name,
                               std::map<std::string, std::string> const& labels) const override;
  void writeTextfile() override;
  std::vector<std::shared_ptr<prometheus::Collectable>> collectables() const override;

 private:
  struct TextfileTimer : Kiv::Timer {
    explicit TextfileTimer(AgentMetrics& m) : owner(m) {}
    void onTimer() override { owner.writeTextfile(); }
    AgentMetrics& owner;
  };

  void changed();
  double epochSeconds(double loopTime);

  std::string textfile_;
  OutputHealth textfileHealth_;
  MetricFamilies families_;
  std::shared_ptr<prometheus::Collectable> process_;
  AgentObservation observation_;
  std::optional<double> epochOffset_;
  double lastWrite_ = -1e9;
  TextfileTimer textfileTimer_{*this};
};

}  // namespace Host
