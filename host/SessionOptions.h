#pragma once

#include <string>
#include <vector>

#include "host/os/FileIdentity.h"

namespace Host {

// What the user asked for on the command line.
enum class CpuRequest {
  automatic,  // a private namespace when one can be made, else simulated
  netns,      // a private namespace or nothing
  simulated,  // the simulated manager
};

struct SessionOptions {
  std::string agentName = "Bcm53134Agent";
  std::string libDir;
  CpuRequest cpu = CpuRequest::automatic;
  std::string netnsName;  // empty: agenthost-PID
  bool keepNetns = false;
  bool allowHostNetdevs = true;   // scenarios and tests set false
  bool releaseNetnsName = false;  // scenarios: the namespace ends with the run
  std::string statusFile;
  std::string applianceFile;    // the file a reload reads; empty: runs that never reload
  bool metrics = false;         // keep the metrics (host/show/Metrics)
  std::string metricsTextfile;  // and write them there
  // Every file the run reads or writes (the appliance file, the scenario,
  // the status file, the metrics textfile, the control socket): a record
  // started while it runs never names one of them.
  std::vector<RunFile> files;
};

}  // namespace Host
