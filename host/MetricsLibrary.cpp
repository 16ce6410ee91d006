#include "host/MetricsLibrary.h"

#include "host/os/HostLibrary.h"

namespace Host {

namespace {

MetricsModule const& module() {
  static MetricsModule const* const m = [] {
    using Entry = MetricsModule const* (*)();
    return reinterpret_cast<Entry>(hostLibraryEntry(
        kMetricsLibrary, kMetricsModuleSymbol, "the metrics (--metrics, --metrics-textfile)"))();
  }();
  return *m;
}

}  // namespace

std::unique_ptr<Metrics> metricsFor(Orba::Ptr<Hardware::Bcm53134::Config> config,
                                    std::string const& textfile,
                                    std::function<void(std::string const&)> report) {
  return module().metrics(std::move(config), textfile, std::move(report));
}

std::unique_ptr<MetricsServer> metricsServerAt(std::string const& bindAddress) {
  return module().server(metricsAddress(bindAddress));
}

}  // namespace Host
