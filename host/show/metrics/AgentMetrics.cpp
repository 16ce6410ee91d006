#include "host/show/metrics/AgentMetrics.h"

#include <prometheus/gauge.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "host/show/metrics/MetricsEndpoint.h"
#include "host/show/metrics/ProcessCollector.h"
#include "platform/kiv/Clock.h"

namespace Host {

AgentMetrics::AgentMetrics(Orba::Ptr<Hardware::Bcm53134::Config> config, std::string textfile,
                           OutputHealth::Report report)
    : textfile_(std::move(textfile)),
      textfileHealth_("metrics textfile " + textfile_, std::move(report)),
      families_(config),
      process_(std::make_shared<ProcessCollector>()),
      observation_(std::move(config), families_, [this] { changed(); }) {}

AgentMetrics::~AgentMetrics() {
  if (textfileTimer_.armed()) {
    try {
      writeTextfile();
    } catch (std::exception const&) {
      // Nothing left to tell at exit; the file keeps its last content.
    }
  }
}

double AgentMetrics::epochSeconds(double loopTime) {
  auto& loop = Kiv::EventLoop::instance();
  if (loop.mode() != Kiv::EventLoop::Mode::realTime)
    return loopTime;  // virtual time: the run's own seconds
  if (!epochOffset_) {
    double const wall =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    epochOffset_ = wall - loop.now();
  }
  return *epochOffset_ + loopTime;
}

void AgentMetrics::statusIs(StatusSnapshot const& status, LinkHistories const& history) {
  families_.error.Set(status.error.empty() ? 0 : 1);
  families_.portsShownAre(status.linkStatus);
  families_.netdevsFollowConfig();
  families_.repairsFollowConfig();
  families_.keepingIs(status.protodown);
  for (auto const& [port, link] : status.linkStatus) {
    auto h = history.find(port);
    if (h == history.end())
      families_.linkIs(port, link, std::nullopt, 0);
    else
      families_.linkIs(port, link, h->second, epochSeconds(h->second.lastChange));
  }
  changed();
}

void AgentMetrics::kernelProtodownIs(std::string const& netdev, std::optional<bool> on) {
  if (families_.kernelProtodownIs(netdev, on))
    changed();
}

void AgentMetrics::changed() {
  if (textfile_.empty() || textfileTimer_.armed())
    return;
  textfileTimer_.arm(std::max(Kiv::System::currentTime(), lastWrite_ + 1.0));
}

void AgentMetrics::writeTextfile() {
  textfileTimer_.disarm();
  if (textfile_.empty())
    return;
  lastWrite_ = Kiv::System::currentTime();
  // The textfile is read by node_exporter, which exports the process_*
  // family of its own process: a second one of those names there is
  // refused as inconsistent, so the file carries the agent's metrics only.
  bool const written = textfileHealth_.attempt([this] {
    writeFileAtomically(textfile_,
                        prometheus::TextSerializer().Serialize(families_.registry()->Collect()));
  });
  // A file that could not be written is tried again, whatever changes.
  if (!written)
    textfileTimer_.arm(lastWrite_ + kTextfileRetry);
}

std::vector<std::shared_ptr<prometheus::Collectable>> AgentMetrics::collectables() const {
  return {families_.registry(), process_};
}

std::string AgentMetrics::text() const {
  auto families = families_.registry()->Collect();
  for (auto& f : process_->Collect())
    families.push_back(std::move(f));
  return prometheus::TextSerializer().Serialize(families);
}

std::optional<double> AgentMetrics::sample(std::string const& metric,
                                           MetricLabels const& labels) const {
  auto families = families_.registry()->Collect();
  for (auto& f : process_->Collect())
    families.push_back(std::move(f));
  auto labelsOf = [](prometheus::ClientMetric const& m) {
    MetricLabels r;
    for (auto const& l : m.label)
      r[l.name] = l.value;
    return r;
  };
  for (auto const& f : families) {
    std::string const base = f.name;
    bool const histogram = f.type == prometheus::MetricType::Histogram;
    for (auto const& m : f.metric) {
      auto const own = labelsOf(m);
      if (!histogram) {
        if (metric == base && own == labels)
          return f.type == prometheus::MetricType::Counter ? m.counter.value : m.gauge.value;
        continue;
      }
      if (metric == base + "_count" && own == labels)
        return static_cast<double>(m.histogram.sample_count);
      if (metric == base + "_sum" && own == labels)
        return m.histogram.sample_sum;
      if (metric != base + "_bucket")
        continue;
      for (auto const& b : m.histogram.bucket) {
        auto withLe = own;
        char le[32];
        std::snprintf(le, sizeof le, "%g", b.upper_bound);
        withLe["le"] = std::isinf(b.upper_bound) ? "+Inf" : le;
        if (withLe == labels)
          return static_cast<double>(b.cumulative_count);
      }
    }
  }
  return std::nullopt;
}

}  // namespace Host

namespace {

std::unique_ptr<Host::Metrics> makeMetrics(Orba::Ptr<Hardware::Bcm53134::Config> config,
                                           std::string const& textfile,
                                           std::function<void(std::string const&)> report) {
  return std::make_unique<Host::AgentMetrics>(std::move(config), textfile, std::move(report));
}

std::unique_ptr<Host::MetricsServer> makeServer(Host::MetricsAddress const& address) {
  return std::make_unique<Host::MetricsEndpoint>(address);
}

}  // namespace

// The library's one entry point (Host::kMetricsModuleSymbol).
extern "C" __attribute__((visibility("default"))) Host::MetricsModule const*
agenthostMetricsModule() {
  static Host::MetricsModule const module{makeMetrics, makeServer};
  return &module;
}
