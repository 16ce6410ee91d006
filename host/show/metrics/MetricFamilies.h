#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "host/show/StatusExport.h"
#include "platform/hardware/Bcm53134.h"

namespace prometheus {
class Counter;
class Gauge;
class Histogram;
class Registry;
template <class T>
class Family;
}  // namespace prometheus

namespace Host {

using MetricLabels = std::map<std::string, std::string>;

// The metric families the host exports and their labelled children, in one
// registry. A port's or netdevice's children are made the first time they
// are needed, labelled with the management interface that uses the port or
// netdevice in the appliance's configuration.
class MetricFamilies {
  Orba::Ptr<Hardware::Bcm53134::Config> config_;
  std::shared_ptr<prometheus::Registry> registry_;

 public:
  static constexpr char const* kPrefix = "agenthost_";

  explicit MetricFamilies(Orba::Ptr<Hardware::Bcm53134::Config> config);
  ~MetricFamilies();
  MetricFamilies(MetricFamilies const&) = delete;
  MetricFamilies& operator=(MetricFamilies const&) = delete;

  std::shared_ptr<prometheus::Registry> const& registry() const noexcept { return registry_; }

  // The published link status of each port, its transitions and their
  // last time (in seconds since the epoch, or the run's virtual seconds).
  // Drops the series of every port not in `shown`, and of one whose
  // interface a reload renamed or moved (a new series follows for it).
  void portsShownAre(std::map<unsigned, unsigned> const& shown);
  void linkIs(unsigned port, unsigned link, std::optional<LinkHistory> const& history,
              double lastChangeTime);
  // A CPU netdevice's protodown, as the agent decided it and as the kernel
  // shows it; a sample exists while the value is known. False when nothing
  // changed.
  bool verdictIs(std::string const& netdev, std::optional<bool> on);
  bool kernelProtodownIs(std::string const& netdev, std::optional<bool> on);
  // After a reload: the series of a netdevice no management interface names
  // any more go; those of one that moved to another interface are made
  // anew with its new label. True when any went or moved.
  bool netdevsFollowConfig();
  // How the host keeps each CPU netdevice's protodown: restores, whether
  // restoring fails, the reason bits the kernel shows, an operator's hold;
  // labelled with the interface and netdevice. A renamed interface's
  // series are made anew.
  void keepingIs(std::map<std::string, ProtodownKeeping> const& keeping);
  // One register write to bring a port's register (page, address) back.
  void repaired(std::uint32_t page, std::uint32_t addr);
  // After a reload: the repairs of a port whose interface was renamed or
  // moved go on under its new label, with the count so far.
  void repairsFollowConfig();

  prometheus::Gauge& error;
  prometheus::Counter& failed;
  prometheus::Counter& implausible;
  prometheus::Counter& cycles;
  prometheus::Counter& cyclesDone;
  prometheus::Histogram& cycleSeconds;

 private:
  struct Labelled;
  struct Port {
    prometheus::Gauge* up = nullptr;
    prometheus::Counter* transitions = nullptr;
    prometheus::Gauge* lastChange = nullptr;
    std::uint64_t counted = 0;
    std::optional<LinkHistory> shown;
    unsigned link = 2;  // none shown yet
    std::string intf;   // the interface label
  };
  struct Netdev {
    std::optional<bool> verdict, kernel;
    prometheus::Gauge* verdictGauge = nullptr;
    prometheus::Gauge* kernelGauge = nullptr;
    std::string intf;  // the interface label of the gauges
  };
  MetricLabels portLabels(unsigned port) const;
  std::string intfLabel(unsigned port) const;
  MetricLabels netdevLabels(std::string const& netdev) const;
  MetricLabels labelled(std::string const& netdev, Netdev& d) const;

  struct Kept {
    prometheus::Counter* restores = nullptr;
    prometheus::Gauge* failing = nullptr;
    prometheus::Gauge* reasons = nullptr;
    prometheus::Gauge* held = nullptr;
    std::uint64_t counted = 0;
    std::string intf;
  };
  std::unique_ptr<Labelled> f_;
  std::map<std::string, Kept> kept_;
  std::map<unsigned, Port> ports_;
  std::map<std::string, Netdev> netdevs_;
  struct Repairs {
    prometheus::Counter* counter = nullptr;
    std::string intf;  // the interface label of the counter
    double count = 0;
  };
  MetricLabels repairLabels(std::uint32_t page, std::uint32_t addr, Repairs& r) const;
  std::map<std::pair<std::uint32_t, std::uint32_t>, Repairs> repaired_;
};

}  // namespace Host
