#include "bench/Appliance.h"

#include <unistd.h>

#include <string>

#include <nlohmann/json.hpp>

namespace Bench {

namespace {
Kiv::EventLoop& loop() {
  return Kiv::EventLoop::instance();
}
}  // namespace

Appliance::Appliance(unsigned interfaces, Transport transport) {
  if (transport == Transport::miiIoctl) {
    ioctl_ = std::make_unique<TestSupport::ChipIoctl>("eth1", *chip);
    ioctl_->noting = false;
    ham = Fru::Ham::HamIs(Hardware::Mdio::Linux::MiiIoctlBus::MiiIoctlBusIs("eth1", *ioctl_));
    config->hamIs(ham);
  } else if (transport != Transport::sim) {
    recorder_ = Hardware::Mdio::Record::RecordingBus::RecordingBusIs(chip);
    ham = Fru::Ham::HamIs(recorder_);
    config->hamIs(ham);
    if (transport == Transport::recording) {
      recordPath_ = "/tmp/agent-bench-record-" + std::to_string(::getpid()) + ".jsonl";
      recorder_->recordingIs(recordPath_, {}, std::size_t(1) << 40, true);
    }
  }
  for (unsigned k = 0; k < interfaces; ++k) {
    std::string const intf = "Management" + std::to_string(k + 1);
    std::string const cpu = k % 2 == 0 ? "mgmt" + std::to_string(k + 1) : "";
    mgmtInterfaceIs(static_cast<Hardware::Bcm53134::PortId>(k), intf.c_str(), cpu.c_str(),
                    externalPort(k), internalPort(k));
  }
  started_ = [this] { return sm().state() != State::idle; };
  idle_ = [this] { return idle(); };
  start();
  // The simulated manager takes the netlink manager's place before any link
  // is processed, so no netlink request is ever made.
  useTestCpuIfMgr();
}

Appliance::~Appliance() {
  root = nullptr;
  if (recorder_)
    recorder_->recordingEnd();
  if (!recordPath_.empty())
    ::unlink(recordPath_.c_str());
}

bool Appliance::idle() const {
  auto const& m = sm();
  return m.state() == State::idle && !m.registerSm()->busy() &&
         m.registerConfig()->requestCount() == 0;
}

bool Appliance::runCycle() {
  if (!loop().runUntil(started_, loop().now() + sm().pollPeriod() + 1))
    return false;
  return loop().runUntil(idle_, loop().now() + 10);
}

bool Appliance::settle() {
  if (!loop().runUntil(idle_, loop().now() + 10))
    return false;
  for (int i = 0; i < 10; ++i) {
    auto const writes = chip->registerWrites();
    if (!runCycle())
      return false;
    if (chip->registerWrites() == writes && !sm().repollingNeeded())
      return true;
  }
  return false;
}

}  // namespace Bench
