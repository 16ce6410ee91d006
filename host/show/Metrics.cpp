#include "host/show/Metrics.h"

#include <prometheus/collectable.h>
#include <prometheus/counter.h>
#include <prometheus/exposer.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "host/attr/AttrPath.h"
#include "platform/kiv/Clock.h"
#include "platform/kiv/Generic.h"

namespace Host {

namespace {

using Labels = std::map<std::string, std::string>;

std::string name(char const* base) {
  return std::string(Metrics::kPrefix) + base;
}

// The host's own resident memory and CPU time, read from the kernel at each
// scrape (on the scraping thread; it touches nothing of the agent's).
class ProcessCollector : public prometheus::Collectable {
 public:
  std::vector<prometheus::MetricFamily> Collect() const override {
    std::vector<prometheus::MetricFamily> r(2);
    r[0].name = name("resident_memory_bytes");
    r[0].help = "Resident memory of the host process, in bytes.";
    r[0].type = prometheus::MetricType::Gauge;
    r[0].metric.emplace_back().gauge.value = residentBytes();
    r[1].name = name("cpu_seconds_total");
    r[1].help = "User and system CPU time of the host process, in seconds.";
    r[1].type = prometheus::MetricType::Counter;
    r[1].metric.emplace_back().counter.value = cpuSeconds();
    return r;
  }

 private:
  static double residentBytes() {
    std::ifstream statm("/proc/self/statm");
    unsigned long size = 0, resident = 0;
    statm >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE));
  }
  static double cpuSeconds() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    auto s = [](timeval const& t) {
      return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return s(ru.ru_utime) + s(ru.ru_stime);
  }
};

char const* registerName(std::uint32_t addr) {
  switch (addr) {
    case 0x20:
      return "extendedControl";
    case 0x30:
      return "auxControl";
    default:
      return nullptr;
  }
}

std::string hex(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

// The cached descriptor of an attribute of a node's type, looked up again
// only when the node's type changes.
struct CachedAttr {
  Kiv::TypeDesc const* type = nullptr;
  Kiv::AttrDesc const* attr = nullptr;
  Kiv::AttrDesc const* of(Orba::Node const& n, std::string_view attrName) {
    if (n.typeData() != type) {
      type = n.typeData();
      attr = type ? type->attr(attrName) : nullptr;
    }
    return attr;
  }
};

Orba::Node* handleIn(Kiv::Value const& v) {
  auto const* p = std::any_cast<Orba::Ptr<Orba::Node>>(&v.raw());
  return p ? p->get() : nullptr;
}

}  // namespace

std::string metricsBindAddress(std::string const& text) {
  auto const colon = text.rfind(':');
  std::string const port = colon == std::string::npos ? text : text.substr(colon + 1);
  std::string const host = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
  bool digits = !port.empty() && port.size() <= 5 &&
                port.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || std::stoul(port) > 65535 || host.empty()) {
    throw std::invalid_argument(
        "--metrics wants [ADDRESS:]PORT (e.g. " + std::to_string(kMetricsPort) +
        " or 0.0.0.0:" + std::to_string(kMetricsPort) + "), not '" + text + "'");
  }
  return host + ":" + port;
}

struct Metrics::Families {
  explicit Families(prometheus::Registry& r)
      : linkUp(prometheus::BuildGauge()
                   .Name(name("port_link_up"))
                   .Help("Published link status of an external switch port: 1 link, 0 none.")
                   .Register(r)),
        transitions(prometheus::BuildCounter()
                        .Name(name("port_link_transitions_total"))
                        .Help("Changes of a port's published link status.")
                        .Register(r)),
        lastChange(prometheus::BuildGauge()
                       .Name(name("port_link_last_change_timestamp_seconds"))
                       .Help("When a port's published link status last changed (or was first "
                             "published), in seconds since the epoch.")
                       .Register(r)),
        protodown(prometheus::BuildGauge()
                      .Name(name("cpu_netdev_protodown"))
                      .Help("Protodown of a CPU netdevice as the agent last set it: 1 on, 0 off.")
                      .Register(r)),
        kernelProtodown(
            prometheus::BuildGauge()
                .Name(name("cpu_netdev_kernel_protodown"))
                .Help("Protodown of a CPU netdevice as the kernel shows it: 1 on, 0 off.")
                .Register(r)),
        error(prometheus::BuildGauge()
                  .Name(name("error"))
                  .Help("1 while the agent publishes an error text, else 0.")
                  .Register(r)
                  .Add({})),
        failed(prometheus::BuildCounter()
                   .Name(name("register_transactions_failed_total"))
                   .Help("Register transactions that ended with an error.")
                   .Register(r)
                   .Add({})),
        implausible(prometheus::BuildCounter()
                        .Name(name("register_transactions_implausible_total"))
                        .Help("Register reads whose value the register's validity rule refuses.")
                        .Register(r)
                        .Add({})),
        repairs(prometheus::BuildCounter()
                    .Name(name("register_repairs_total"))
                    .Help("Register writes made to bring a register back to its configured value.")
                    .Register(r)),
        cycles(prometheus::BuildCounter()
                   .Name(name("poll_cycles_begun_total"))
                   .Help("Poll cycles begun.")
                   .Register(r)
                   .Add({})),
        cyclesDone(prometheus::BuildCounter()
                       .Name(name("poll_cycles_completed_total"))
                       .Help("Poll cycles that came back to idle, with or without an error.")
                       .Register(r)
                       .Add({})),
        cycleSeconds(
            prometheus::BuildHistogram()
                .Name(name("poll_cycle_duration_seconds"))
                .Help("Duration of a poll cycle, in the run's time (virtual in scenarios).")
                .Register(r)
                .Add({}, prometheus::Histogram::BucketBoundaries{1e-5, 1e-4, 1e-3, 1e-2, 0.1, 1.0,
                                                                 10.0})) {}

  prometheus::Family<prometheus::Gauge>& linkUp;
  prometheus::Family<prometheus::Counter>& transitions;
  prometheus::Family<prometheus::Gauge>& lastChange;
  prometheus::Family<prometheus::Gauge>& protodown;
  prometheus::Family<prometheus::Gauge>& kernelProtodown;
  prometheus::Gauge& error;
  prometheus::Counter& failed;
  prometheus::Counter& implausible;
  prometheus::Family<prometheus::Counter>& repairs;
  prometheus::Counter& cycles;
  prometheus::Counter& cyclesDone;
  prometheus::Histogram& cycleSeconds;

  struct Port {
    prometheus::Gauge* up = nullptr;
    prometheus::Counter* transitions = nullptr;
    prometheus::Gauge* lastChange = nullptr;
    std::uint64_t counted = 0;
    std::optional<LinkHistory> shown;
    unsigned link = 2;  // none shown yet
    std::string intf;   // the interface label
  };
  std::map<unsigned, Port> ports;
  std::map<std::pair<std::uint32_t, std::uint32_t>, prometheus::Counter*> repaired;
};

// The CPU interface manager's verdicts and the kernel's protodown, per CPU
// netdevice, with the cached keys and descriptors they are read through.
struct Metrics::CpuWatch {
  struct Netdev {
    Kiv::Value key;  // the name as the manager's collection takes it
    std::optional<bool> verdict, kernel;
    prometheus::Gauge* verdictGauge = nullptr;
    prometheus::Gauge* kernelGauge = nullptr;
  };
  std::map<std::string, Netdev> netdevs;
  CachedAttr mgr, collection, state;
  Kiv::Value disabled, enabled;  // of the interface state's type
  Kiv::TypeDesc const* stateType = nullptr;
};

Metrics::Metrics(Orba::Ptr<Hardware::Bcm53134::Config> config, std::string textfile)
    : config_(std::move(config)),
      textfile_(std::move(textfile)),
      registry_(std::make_shared<prometheus::Registry>()),
      process_(std::make_shared<ProcessCollector>()),
      f_(std::make_unique<Families>(*registry_)),
      cpu_(std::make_unique<CpuWatch>()) {
  previousEventObserver_ = Kiv::EventLoop::instance().eventObserverIs(this);
  previousTransactionObserver_ = Bcm53134::MdioRegLib::transactionObserverIs(this);
}

Metrics::~Metrics() {
  Kiv::EventLoop::instance().eventObserverIs(previousEventObserver_);
  Bcm53134::MdioRegLib::transactionObserverIs(previousTransactionObserver_);
  if (textfileTimer_.armed()) {
    try {
      writeTextfile();
    } catch (std::exception const&) {
      // Nothing left to tell at exit; the file keeps its last content.
    }
  }
}

void Metrics::rootIs(Orba::Node* root) {
  root_ = root;
  smAttr_ = root && root->typeData() ? root->typeData()->attr("bcm53134Sm") : nullptr;
  if (inCycle_ && !root)
    inCycle_ = false;  // torn down mid-cycle: that cycle never completes
}

std::string Metrics::intfOfPort(unsigned port) const {
  for (auto const& [key, m] : config_->mgmtInterfaces()) {
    if (m->externalPort() == port || m->internalPort() == port)
      return m->intfId().name();
  }
  return {};
}

std::string Metrics::intfOfNetdev(std::string const& netdev) const {
  for (auto const& [key, m] : config_->mgmtInterfaces()) {
    if (m->cpuIntfName() == netdev)
      return m->intfId().name();
  }
  return {};
}

double Metrics::epochSeconds(double loopTime) {
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

void Metrics::statusIs(StatusSnapshot const& status, LinkHistories const& history) {
  f_->error.Set(status.error.empty() ? 0 : 1);
  // A port no longer shown, or whose interface a reload renamed or moved,
  // loses its series (a new one follows for a renamed one).
  for (auto it = f_->ports.begin(); it != f_->ports.end();) {
    auto& p = it->second;
    if (status.linkStatus.contains(it->first) && p.intf == intfOfPort(it->first)) {
      ++it;
      continue;
    }
    if (p.up) {
      f_->linkUp.Remove(p.up);
      f_->transitions.Remove(p.transitions);
      f_->lastChange.Remove(p.lastChange);
    }
    it = f_->ports.erase(it);
  }
  for (auto const& [port, link] : status.linkStatus) {
    auto& p = f_->ports[port];
    if (!p.up) {
      Labels labels{{"port", std::to_string(port)}};
      p.intf = intfOfPort(port);
      if (!p.intf.empty())
        labels["interface"] = p.intf;
      p.up = &f_->linkUp.Add(labels);
      p.transitions = &f_->transitions.Add(labels);
      p.lastChange = &f_->lastChange.Add(labels);
    }
    if (p.link != link) {
      p.link = link;
      p.up->Set(link == 1 ? 1 : 0);
    }
    auto h = history.find(port);
    if (h == history.end() || p.shown == h->second)
      continue;
    p.shown = h->second;
    if (h->second.transitions > p.counted) {
      p.transitions->Increment(static_cast<double>(h->second.transitions - p.counted));
      p.counted = h->second.transitions;
    }
    p.lastChange->Set(epochSeconds(h->second.lastChange));
  }
  changed();
}

void Metrics::kernelProtodownIs(std::string const& netdev, std::optional<bool> on) {
  auto& d = cpu_->netdevs[netdev];
  if (d.kernel == on && (on.has_value() == (d.kernelGauge != nullptr)))
    return;
  d.kernel = on;
  if (!on) {
    if (d.kernelGauge)
      f_->kernelProtodown.Remove(d.kernelGauge);
    d.kernelGauge = nullptr;
  } else {
    if (!d.kernelGauge) {
      Labels labels{{"netdev", netdev}};
      if (auto intf = intfOfNetdev(netdev); !intf.empty())
        labels["interface"] = intf;
      d.kernelGauge = &f_->kernelProtodown.Add(labels);
    }
    d.kernelGauge->Set(*on ? 1 : 0);
  }
  changed();
}

void Metrics::afterEvent() {
  if (!root_ || !smAttr_)
    return;
  auto const smValue = smAttr_->get(*root_);
  Orba::Node* sm = handleIn(smValue);
  if (!sm)
    return;
  if (sm->typeData() != smType_) {
    smType_ = sm->typeData();
    stateAttr_ = smType_ ? smType_->attr("state") : nullptr;
    idle_ =
        stateAttr_ && stateAttr_->type ? Kiv::parseValue(stateAttr_->type, "idle") : Kiv::Value();
    cpuVerdictsRead(*sm);
  }
  if (!stateAttr_ || idle_.empty())
    return;
  auto const state = stateAttr_->get(*sm);
  bool const idle = state.type() == idle_.type() && idle_.type()->equal(state.raw(), idle_.raw());
  if (idle == !inCycle_)
    return;
  double const now = Kiv::System::currentTime();
  if (!idle) {
    inCycle_ = true;
    cycleStart_ = now;
    f_->cycles.Increment();
  } else {
    inCycle_ = false;
    f_->cyclesDone.Increment();
    f_->cycleSeconds.Observe(now - cycleStart_);
    cpuVerdictsRead(*sm);
  }
  // The cycle counters alone do not rewrite the textfile: they move every
  // cycle, and the steady cycle writes nothing.
}

// Reads, through the generic attribute interface, the state the manager
// keeps for each CPU netdevice of the appliance: disabled means the agent
// put it into protodown. Allocates only when the set of netdevices, their
// manager's type or a verdict changes.
void Metrics::cpuVerdictsRead(Orba::Node& sm) {
  auto& c = *cpu_;
  auto const* mgrAttr = c.mgr.of(sm, "cpuIfMgr");
  auto const mgrValue = mgrAttr && mgrAttr->get ? mgrAttr->get(sm) : Kiv::Value();
  Orba::Node* mgr = handleIn(mgrValue);
  auto const* coll = mgr ? c.collection.of(*mgr, "cpuInterface") : nullptr;
  bool any = false;
  for (auto const& [key, m] : config_->mgmtInterfaces()) {
    std::string const& netdev = m->cpuIntfName();
    if (netdev.empty())
      continue;
    auto& d = c.netdevs[netdev];
    if (d.key.empty())
      d.key = Kiv::Value::of(netdev);
    std::optional<bool> verdict;
    if (coll && coll->lookup) {
      auto const intfValue = coll->lookup(*mgr, d.key);
      if (Orba::Node* intf = handleIn(intfValue)) {
        auto const* stateAttr = c.state.of(*intf, "state");
        if (stateAttr && stateAttr->get) {
          if (stateAttr->type != c.stateType) {
            c.stateType = stateAttr->type;
            c.disabled = Kiv::parseValue(c.stateType, "disabled");
            c.enabled = Kiv::parseValue(c.stateType, "enabled");
          }
          auto const s = stateAttr->get(*intf);
          if (c.stateType->equal(s.raw(), c.disabled.raw()))
            verdict = true;
          else if (c.stateType->equal(s.raw(), c.enabled.raw()))
            verdict = false;
        }
      }
    }
    if (verdict == d.verdict)
      continue;
    d.verdict = verdict;
    any = true;
    if (!verdict) {
      f_->protodown.Remove(d.verdictGauge);
      d.verdictGauge = nullptr;
      continue;
    }
    if (!d.verdictGauge) {
      d.verdictGauge =
          &f_->protodown.Add(Labels{{"netdev", netdev}, {"interface", m->intfId().name()}});
    }
    d.verdictGauge->Set(*verdict ? 1 : 0);
  }
  if (any)
    changed();
}

void Metrics::transaction(Bcm53134::MdioRegLib::Request const& request,
                          Bcm53134::MdioRegLib::Result const& result) {
  using Request = Bcm53134::MdioRegLib::Request;
  if (!result.error.empty()) {
    f_->failed.Increment();
  } else if (request.op == Request::write) {
    auto& c = f_->repaired[{request.page, request.addr}];
    if (!c) {
      unsigned const port = request.page - Bcm53134::MdioRegLib::RegisterSm::kPhyPageBase;
      char const* reg = registerName(request.addr);
      Labels labels{{"port", std::to_string(port)}, {"register", reg ? reg : hex(request.addr)}};
      if (auto intf = intfOfPort(port); !intf.empty())
        labels["interface"] = intf;
      c = &f_->repairs.Add(labels);
    }
    c->Increment();
  } else if (root_) {
    // A read: judged by the record's own rule, as the agent judges it.
    try {
      std::string const record =
          "bcm53134Sm.registerVal[Bcm53134::Agent::RegisterId(page=" + hex(request.page) +
          ", addr=" + hex(request.addr) + ")].";
      auto mask = readAttr(resolvePath(*root_, record + "validityCheckMask"));
      auto val = readAttr(resolvePath(*root_, record + "validityCheckVal"));
      auto const v = static_cast<std::uint32_t>(result.value);
      if ((v & mask.as<std::uint32_t>()) != val.as<std::uint32_t>())
        f_->implausible.Increment();
    } catch (Kiv::AttributeError const&) {
      return;  // no record for it (any more): nothing to judge it by
    }
  } else {
    return;
  }
  changed();
}

void Metrics::changed() {
  if (textfile_.empty() || textfileTimer_.armed())
    return;
  textfileTimer_.arm(std::max(Kiv::System::currentTime(), lastWrite_ + 1.0));
}

void Metrics::writeTextfile() {
  textfileTimer_.disarm();
  if (textfile_.empty())
    return;
  lastWrite_ = Kiv::System::currentTime();
  try {
    writeFileAtomically(textfile_, text());
  } catch (std::runtime_error const& e) {
    std::fprintf(stderr, "agenthost: metrics textfile: %s\n", e.what());
  }
}

std::string Metrics::text() const {
  auto families = registry_->Collect();
  for (auto& f : process_->Collect())
    families.push_back(std::move(f));
  return prometheus::TextSerializer().Serialize(families);
}

std::optional<double> Metrics::sample(std::string const& metric, Labels const& labels) const {
  auto families = registry_->Collect();
  for (auto& f : process_->Collect())
    families.push_back(std::move(f));
  auto labelsOf = [](prometheus::ClientMetric const& m) {
    Labels r;
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

MetricsServer::MetricsServer(std::string const& bindAddress)
    : host_(bindAddress.substr(0, bindAddress.rfind(':'))) {
  try {
    // One thread: a scrape now and then needs no more.
    exposer_ = std::make_unique<prometheus::Exposer>(bindAddress, 1);
  } catch (std::exception const& e) {
    throw std::runtime_error("cannot serve metrics on " + bindAddress + ": " + e.what());
  }
}

MetricsServer::~MetricsServer() = default;

void MetricsServer::serve(Metrics const& m) {
  exposer_->RegisterCollectable(m.registry());
  exposer_->RegisterCollectable(m.process());
}

void MetricsServer::withdraw(Metrics const& m) {
  exposer_->RemoveCollectable(m.registry());
  exposer_->RemoveCollectable(m.process());
}

std::string MetricsServer::url() const {
  auto ports = exposer_->GetListeningPorts();
  return "http://" + host_ + ":" + (ports.empty() ? std::string("?") : std::to_string(ports[0])) +
         "/metrics";
}

}  // namespace Host
