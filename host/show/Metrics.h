#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/show/StatusExport.h"
#include "platform/hardware/Bcm53134.h"
#include "platform/kiv/EventLoop.h"
#include "platform/mdio/MdioRegLib.h"

namespace prometheus {
class Collectable;
class Counter;
class Exposer;
class Gauge;
class Histogram;
class Registry;
template <class T>
class Family;
}  // namespace prometheus

namespace Host {

// The port we serve metrics on unless told otherwise.
inline constexpr unsigned kMetricsPort = 9534;
// "[ADDRESS:]PORT" as civetweb binds it: a port alone means the loopback
// address. Throws std::invalid_argument on anything else.
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
//     watcher reports it.
// A metric is written only when its value changes, so the steady poll cycle
// allocates nothing. The textfile is rewritten on every change but those of
// the cycle counters (which move every cycle), at most once a second. Everything but the scrape
// runs on the loop's thread; a scrape (another thread) reads the registry, which locks for itself.
class Metrics : public Kiv::EventObserver, public Bcm53134::MdioRegLib::TransactionObserver {
 public:
  // The label names the host's metrics use.
  static constexpr char const* kPrefix = "agenthost_";

  // textfile: the file for node_exporter's textfile collector, or empty.
  Metrics(Orba::Ptr<Hardware::Bcm53134::Config> config, std::string textfile);
  ~Metrics();
  Metrics(Metrics const&) = delete;
  Metrics& operator=(Metrics const&) = delete;

  // The agent's root (null when it is gone): the start of every attribute
  // path the metrics read.
  void rootIs(Orba::Node* root);
  // The published status changed.
  void statusIs(StatusSnapshot const& status, LinkHistories const& history);
  // The kernel's protodown of a CPU netdevice (empty: the device is gone).
  void kernelProtodownIs(std::string const& netdev, std::optional<bool> on);

  void afterEvent() override;
  void transaction(Bcm53134::MdioRegLib::Request const& request,
                   Bcm53134::MdioRegLib::Result const& result) override;

  // What a scrape would see, in the text exposition format.
  std::string text() const;
  // The value of one sample, by metric name and exact labels (a histogram's
  // _count and _sum, and _bucket with its "le" label, count as samples).
  std::optional<double> sample(std::string const& name,
                               std::map<std::string, std::string> const& labels) const;
  // Writes the textfile now, if there is one.
  void writeTextfile();

  std::shared_ptr<prometheus::Registry> const& registry() const noexcept { return registry_; }
  std::shared_ptr<prometheus::Collectable> const& process() const noexcept { return process_; }

 private:
  struct Families;
  struct CpuWatch;
  struct TextfileTimer : Kiv::Timer {
    explicit TextfileTimer(Metrics& m) : owner(m) {}
    void onTimer() override { owner.writeTextfile(); }
    Metrics& owner;
  };

  void changed();
  void cycleStateIs(bool idle);
  void cpuVerdictsRead(Orba::Node& sm);
  std::string intfOfPort(unsigned port) const;
  std::string intfOfNetdev(std::string const& netdev) const;
  double epochSeconds(double loopTime);

  Orba::Ptr<Hardware::Bcm53134::Config> config_;
  std::string textfile_;
  std::shared_ptr<prometheus::Registry> registry_;
  std::shared_ptr<prometheus::Collectable> process_;
  std::unique_ptr<Families> f_;
  std::unique_ptr<CpuWatch> cpu_;
  Orba::Node* root_ = nullptr;
  Kiv::AttrDesc const* smAttr_ = nullptr;  // the root's bcm53134Sm
  Kiv::TypeDesc const* smType_ = nullptr;
  Kiv::AttrDesc const* stateAttr_ = nullptr;
  Kiv::Value idle_;  // the state machine's idle state
  bool inCycle_ = false;
  double cycleStart_ = 0;
  std::optional<double> epochOffset_;
  double lastWrite_ = -1e9;
  TextfileTimer textfileTimer_{*this};
  Kiv::EventObserver* previousEventObserver_ = nullptr;
  Bcm53134::MdioRegLib::TransactionObserver* previousTransactionObserver_ = nullptr;
};

// The HTTP endpoint that serves /metrics (prometheus-cpp's exposer). Made
// before the agent starts and before any network namespace is entered, so
// that it listens in the host's own namespace and its threads start with
// the stop signals blocked.
class MetricsServer {
 public:
  // Throws std::runtime_error when it cannot listen.
  explicit MetricsServer(std::string const& bindAddress);
  ~MetricsServer();
  MetricsServer(MetricsServer const&) = delete;
  MetricsServer& operator=(MetricsServer const&) = delete;

  void serve(Metrics const& m);
  void withdraw(Metrics const& m);
  // "http://127.0.0.1:9534/metrics", with the port actually bound.
  std::string url() const;

 private:
  std::string host_;
  std::unique_ptr<prometheus::Exposer> exposer_;
};

}  // namespace Host
