#include "host/show/metrics/MetricFamilies.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>

#include <cstdio>

#include "platform/mdio/MdioRegLib.h"

namespace Host {

namespace {

std::string name(char const* base) {
  return std::string(MetricFamilies::kPrefix) + base;
}

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

}  // namespace

// The families whose children carry labels.
struct MetricFamilies::Labelled {
  explicit Labelled(prometheus::Registry& r)
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
        repairs(prometheus::BuildCounter()
                    .Name(name("register_repairs_total"))
                    .Help("Register writes made to bring a register back to its configured value.")
                    .Register(r)),
        restores(prometheus::BuildCounter()
                     .Name(name("protodown_restores_total"))
                     .Help("Times a CPU netdevice's protodown was put back to the agent's verdict "
                           "after something else changed it, and it held.")
                     .Register(r)),
        restoreFailing(prometheus::BuildGauge()
                           .Name(name("protodown_restore_failing"))
                           .Help("1 while restoring a CPU netdevice's protodown does not work "
                                 "(the status says why).")
                           .Register(r)),
        reasons(prometheus::BuildGauge()
                    .Name(name("cpu_netdev_protodown_reasons"))
                    .Help("Protodown reason bits the kernel shows on a CPU netdevice (held by "
                          "other programs).")
                    .Register(r)),
        held(prometheus::BuildGauge()
                 .Name(name("protodown_held"))
                 .Help("1 while an operator's hold keeps the host from restoring a CPU "
                       "netdevice's protodown.")
                 .Register(r)) {}

  prometheus::Family<prometheus::Gauge>& linkUp;
  prometheus::Family<prometheus::Counter>& transitions;
  prometheus::Family<prometheus::Gauge>& lastChange;
  prometheus::Family<prometheus::Gauge>& protodown;
  prometheus::Family<prometheus::Gauge>& kernelProtodown;
  prometheus::Family<prometheus::Counter>& repairs;
  prometheus::Family<prometheus::Counter>& restores;
  prometheus::Family<prometheus::Gauge>& restoreFailing;
  prometheus::Family<prometheus::Gauge>& reasons;
  prometheus::Family<prometheus::Gauge>& held;
};

MetricFamilies::MetricFamilies(Orba::Ptr<Hardware::Bcm53134::Config> config)
    : config_(std::move(config)),
      registry_(std::make_shared<prometheus::Registry>()),
      error(prometheus::BuildGauge()
                .Name(name("error"))
                .Help("1 while the agent publishes an error text, else 0.")
                .Register(*registry_)
                .Add({})),
      failed(prometheus::BuildCounter()
                 .Name(name("register_transactions_failed_total"))
                 .Help("Register transactions that ended with an error.")
                 .Register(*registry_)
                 .Add({})),
      implausible(prometheus::BuildCounter()
                      .Name(name("register_transactions_implausible_total"))
                      .Help("Register reads whose value the register's validity rule refuses.")
                      .Register(*registry_)
                      .Add({})),
      cycles(prometheus::BuildCounter()
                 .Name(name("poll_cycles_begun_total"))
                 .Help("Poll cycles begun.")
                 .Register(*registry_)
                 .Add({})),
      cyclesDone(prometheus::BuildCounter()
                     .Name(name("poll_cycles_completed_total"))
                     .Help("Poll cycles that came back to idle, with or without an error.")
                     .Register(*registry_)
                     .Add({})),
      cycleSeconds(prometheus::BuildHistogram()
                       .Name(name("poll_cycle_duration_seconds"))
                       .Help("Duration of a poll cycle, in the run's time (virtual in scenarios).")
                       .Register(*registry_)
                       .Add({}, prometheus::Histogram::BucketBoundaries{1e-5, 1e-4, 1e-3, 1e-2, 0.1,
                                                                        1.0, 10.0})),
      f_(std::make_unique<Labelled>(*registry_)) {
  prometheus::BuildGauge()
      .Name(name("build_info"))
      .Help("The host's version, in the label; always 1.")
      .Register(*registry_)
      .Add({{"version", AGENTHOST_VERSION}})
      .Set(1);
}

MetricFamilies::~MetricFamilies() = default;

MetricLabels MetricFamilies::portLabels(unsigned port) const {
  MetricLabels labels{{"port", std::to_string(port)}};
  for (auto const& [key, m] : config_->mgmtInterfaces()) {
    if (m->externalPort() == port || m->internalPort() == port) {
      labels["interface"] = m->intfId().name();
      break;
    }
  }
  return labels;
}

MetricLabels MetricFamilies::netdevLabels(std::string const& netdev) const {
  MetricLabels labels{{"netdev", netdev}};
  for (auto const& [key, m] : config_->mgmtInterfaces()) {
    if (m->cpuIntfName() == netdev) {
      labels["interface"] = m->intfId().name();
      break;
    }
  }
  return labels;
}

void MetricFamilies::portsShownAre(std::map<unsigned, unsigned> const& shown) {
  for (auto it = ports_.begin(); it != ports_.end();) {
    auto& p = it->second;
    if (shown.contains(it->first) && p.intf == intfLabel(it->first)) {
      ++it;
      continue;
    }
    if (p.up) {
      f_->linkUp.Remove(p.up);
      f_->transitions.Remove(p.transitions);
      f_->lastChange.Remove(p.lastChange);
    }
    it = ports_.erase(it);
  }
}

std::string MetricFamilies::intfLabel(unsigned port) const {
  auto const labels = portLabels(port);
  auto it = labels.find("interface");
  return it == labels.end() ? std::string() : it->second;
}

void MetricFamilies::linkIs(unsigned port, unsigned link, std::optional<LinkHistory> const& history,
                            double lastChangeTime) {
  auto& p = ports_[port];
  if (!p.up) {
    auto const labels = portLabels(port);
    auto const intf = labels.find("interface");
    p.intf = intf == labels.end() ? std::string() : intf->second;
    p.up = &f_->linkUp.Add(labels);
    p.transitions = &f_->transitions.Add(labels);
    p.lastChange = &f_->lastChange.Add(labels);
  }
  if (p.link != link) {
    p.link = link;
    p.up->Set(link == 1 ? 1 : 0);
  }
  if (!history || p.shown == history)
    return;
  p.shown = history;
  if (history->transitions > p.counted) {
    p.transitions->Increment(static_cast<double>(history->transitions - p.counted));
    p.counted = history->transitions;
  }
  p.lastChange->Set(lastChangeTime);
}

// The netdevice's labels now, kept as the label of its gauges.
MetricLabels MetricFamilies::labelled(std::string const& netdev, Netdev& d) const {
  auto labels = netdevLabels(netdev);
  auto const intf = labels.find("interface");
  d.intf = intf == labels.end() ? std::string() : intf->second;
  return labels;
}

bool MetricFamilies::verdictIs(std::string const& netdev, std::optional<bool> on) {
  auto& d = netdevs_[netdev];
  if (on == d.verdict)
    return false;
  d.verdict = on;
  if (!on) {
    f_->protodown.Remove(d.verdictGauge);
    d.verdictGauge = nullptr;
    return true;
  }
  if (!d.verdictGauge)
    d.verdictGauge = &f_->protodown.Add(labelled(netdev, d));
  d.verdictGauge->Set(*on ? 1 : 0);
  return true;
}

bool MetricFamilies::netdevsFollowConfig() {
  bool any = false;
  for (auto it = netdevs_.begin(); it != netdevs_.end();) {
    auto& d = it->second;
    auto const labels = netdevLabels(it->first);
    auto const intf = labels.find("interface");
    bool const named = intf != labels.end();
    if (named && intf->second == d.intf) {
      ++it;
      continue;
    }
    any = any || d.verdictGauge || d.kernelGauge;
    if (d.verdictGauge)
      f_->protodown.Remove(d.verdictGauge);
    if (d.kernelGauge)
      f_->kernelProtodown.Remove(d.kernelGauge);
    d.verdictGauge = d.kernelGauge = nullptr;
    if (!named) {
      it = netdevs_.erase(it);
      continue;
    }
    // Moved: the same values under the new label.
    d.intf = intf->second;
    if (d.verdict)
      (d.verdictGauge = &f_->protodown.Add(labels))->Set(*d.verdict ? 1 : 0);
    if (d.kernel)
      (d.kernelGauge = &f_->kernelProtodown.Add(labels))->Set(*d.kernel ? 1 : 0);
    ++it;
  }
  return any;
}

bool MetricFamilies::kernelProtodownIs(std::string const& netdev, std::optional<bool> on) {
  auto& d = netdevs_[netdev];
  if (d.kernel == on && (on.has_value() == (d.kernelGauge != nullptr)))
    return false;
  d.kernel = on;
  if (!on) {
    if (d.kernelGauge)
      f_->kernelProtodown.Remove(d.kernelGauge);
    d.kernelGauge = nullptr;
    return true;
  }
  if (!d.kernelGauge)
    d.kernelGauge = &f_->kernelProtodown.Add(labelled(netdev, d));
  d.kernelGauge->Set(*on ? 1 : 0);
  return true;
}

void MetricFamilies::keepingIs(std::map<std::string, ProtodownKeeping> const& keeping) {
  for (auto it = kept_.begin(); it != kept_.end();) {
    auto k = keeping.find(it->first);
    if (k != keeping.end() && k->second.interface == it->second.intf) {
      ++it;
      continue;
    }
    f_->restores.Remove(it->second.restores);
    f_->restoreFailing.Remove(it->second.failing);
    f_->reasons.Remove(it->second.reasons);
    f_->held.Remove(it->second.held);
    it = kept_.erase(it);
  }
  for (auto const& [netdev, k] : keeping) {
    auto [it, added] = kept_.try_emplace(netdev);
    auto& m = it->second;
    if (added) {
      MetricLabels const labels{{"interface", k.interface}, {"netdev", netdev}};
      m.intf = k.interface;
      m.restores = &f_->restores.Add(labels);
      m.failing = &f_->restoreFailing.Add(labels);
      m.reasons = &f_->reasons.Add(labels);
      m.held = &f_->held.Add(labels);
    }
    if (k.restores > m.counted)
      m.restores->Increment(static_cast<double>(k.restores - m.counted));
    m.counted = k.restores;
    m.failing->Set(k.trouble.empty() ? 0 : 1);
    m.reasons->Set(k.reasons);
    m.held->Set(k.heldUntil > 0 ? 1 : 0);
  }
}

// The labels of a register's repairs now, its interface kept in `r`.
MetricLabels MetricFamilies::repairLabels(std::uint32_t page, std::uint32_t addr,
                                          Repairs& r) const {
  unsigned const port = page - Bcm53134::MdioRegLib::RegisterSm::kPhyPageBase;
  auto labels = portLabels(port);
  r.intf = labels.contains("interface") ? labels["interface"] : std::string();
  char const* reg = registerName(addr);
  labels["register"] = reg ? reg : hex(addr);
  return labels;
}

void MetricFamilies::repaired(std::uint32_t page, std::uint32_t addr) {
  auto& r = repaired_[{page, addr}];
  if (!r.counter)
    r.counter = &f_->repairs.Add(repairLabels(page, addr, r));
  r.counter->Increment();
  ++r.count;
}

void MetricFamilies::repairsFollowConfig() {
  for (auto& [key, r] : repaired_) {
    auto const before = r.intf;
    auto const labels = repairLabels(key.first, key.second, r);
    if (r.intf == before)
      continue;
    f_->repairs.Remove(r.counter);
    r.counter = &f_->repairs.Add(labels);
    r.counter->Increment(r.count);
  }
}

}  // namespace Host
