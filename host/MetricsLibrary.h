#pragma once

#include <memory>
#include <string>

#include "host/show/Metrics.h"

namespace Host {

// The metrics and their endpoint, from the metrics library (kMetricsLibrary,
// with prometheus-cpp), which is loaded the first time a
// run asks for either: a run that keeps no metrics maps none of them. Throw
// std::runtime_error when the library cannot be loaded.
// `report` hears of the textfile's failures and recoveries.
std::unique_ptr<Metrics> metricsFor(Orba::Ptr<Hardware::Bcm53134::Config> config,
                                    std::string const& textfile,
                                    std::function<void(std::string const&)> report);
// bindAddress as metricsBindAddress gives it; also throws when it cannot
// listen there.
std::unique_ptr<MetricsServer> metricsServerAt(std::string const& bindAddress);

}  // namespace Host
