#include <cstdio>
#include <stdexcept>

#include "host/agent/RunningAgent.h"
#include "host/control/CommandFamilies.h"
#include "host/keeper/ProtodownKeeper.h"
#include "platform/kiv/Clock.h"

// hold NETDEV DURATION | hold NETDEV off: an operator's hold on a CPU
// netdevice's protodown, which the host's keeper respects until it ends.
namespace Host::Commands {

namespace {

// "90", "90s", "10m", "2h": seconds, minutes, hours.
Kiv::Seconds duration(std::string const& text) {
  std::size_t used = 0;
  unsigned long n = 0;
  try {
    n = std::stoul(text, &used);
  } catch (std::exception const&) {
    used = 0;
  }
  std::string const unit = text.substr(used);
  double const scale = unit.empty() || unit == "s" ? 1 : unit == "m" ? 60 : unit == "h" ? 3600 : 0;
  if (used == 0 || text[0] == '-' || text[0] == '+' || scale == 0 || n == 0 || n > 1'000'000)
    throw CommandError("hold: '" + text + "' is no duration (e.g. 90s, 10m, 2h)");
  return static_cast<double>(n) * scale;
}

}  // namespace

Json holdCommand(ControlContext& c, std::vector<std::string> const& argv) {
  needArgs(argv, 3, 3, "hold NETDEV DURATION|off");
  auto* keeper = c.agent.keeper();
  if (!keeper)
    throw CommandError(
        "hold: this run keeps no CPU netdevice's protodown (its CPU interfaces are "
        "simulated)");
  // The interface's name stands for its netdevice.
  std::string netdev = argv[1];
  for (auto const& [dev, k] : keeper->keeping()) {
    if (k.interface == argv[1])
      netdev = dev;
  }
  Kiv::Seconds const now = Kiv::System::currentTime();
  try {
    keeper->holdIs(netdev, argv[2] == "off" ? now : now + duration(argv[2]));
  } catch (std::invalid_argument const& e) {
    throw CommandError(std::string("hold: ") + e.what());
  }
  auto const& k = keeper->keeping().at(netdev);
  if (k.heldUntil <= 0)
    return done(netdev + ": no hold; its protodown follows the agent's verdict",
                Json{{"netdev", netdev}, {"held", false}});
  char text[160];
  std::snprintf(text, sizeof text,
                "%s: held by hand for %.0f s; the host restores nothing on it "
                "until then (hold %s off ends it)",
                netdev.c_str(), k.heldUntil - now, netdev.c_str());
  return done(text, Json{{"netdev", netdev}, {"held", true}, {"heldUntil", k.heldUntil}});
}

}  // namespace Host::Commands
