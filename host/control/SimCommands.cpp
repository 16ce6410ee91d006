#include "host/control/CommandFamilies.h"

#include <charconv>
#include <sstream>

#include "host/Session.h"
#include "host/control/CommandSupport.h"

// sim: the simulated chip's links, registers and failures, changed by hand.
namespace Host::Commands {

namespace {

using Chip = Hardware::Mdio::Sim::Bcm53134Chip;

std::uint64_t number(std::string const& text, std::string const& what, std::uint64_t max) {
  std::string_view s = text;
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    s.remove_prefix(2);
    base = 16;
  }
  std::uint64_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size() || v > max) {
    std::ostringstream os;
    os << what << " must be a number from 0 to " << max << " (or 0x" << std::hex << max
       << "), not '" << text << "'";
    throw CommandError(os.str());
  }
  return v;
}

}  // namespace

Json simCommand(ControlContext& c, std::vector<std::string> const& argv) {
  auto& s = c.session;
  auto& chip = s.db().chip();
  std::string what = argv.size() > 1 ? argv[1] : "";
  Json r;
  std::string text;
  if (what == "link") {
    needArgs(argv, 4, 4, "sim link PORT up|down|flap");
    auto port = static_cast<Hardware::Mdio::PortAddr>(number(argv[2], "PORT", Chip::kPorts - 1));
    auto const& state = argv[3];
    if (state == "flap")
      chip.linkFlap(port);
    else if (state == "up" || state == "down")
      chip.linkIs(port, state == "up");
    else
      throw CommandError("the link state is up, down or flap, not '" + state + "'");
    text = "link " + std::to_string(port) + " " + state;
    r = {{"port", port}, {"link", state}};
  } else if (what == "reg") {
    needArgs(argv, 5, 5, "sim reg PAGE ADDR VALUE (e.g. sim reg 0x11 0x30 0x0)");
    // As the register service reaches them: page 0x10 + p, address a is MII
    // register a / 2 of the PHY of port p.
    auto page = number(argv[2], "PAGE", 0xff);
    auto addr = number(argv[3], "ADDR", 0xff);
    auto value = number(argv[4], "VALUE", 0xffff);
    if (page < 0x10 || page >= 0x10 + Chip::kPorts)
      throw CommandError("PAGE must be 0x10 to 0x17 (0x10 + port)");
    if (addr % 2 || addr >= 64)
      throw CommandError("ADDR must be even and below 0x40 (MII register ADDR / 2)");
    auto port = static_cast<Hardware::Mdio::PortAddr>(page - 0x10);
    auto reg = static_cast<std::uint8_t>(addr / 2);
    chip.regIs(port, reg, static_cast<std::uint16_t>(value));
    std::ostringstream os;
    os << std::hex << "chip page 0x" << page << " address 0x" << addr << " (port " << std::dec
       << unsigned(port) << std::hex << ", MII register 0x" << unsigned(reg) << ") set to 0x"
       << value;
    text = os.str();
    r = {{"page", page}, {"addr", addr}, {"port", port}, {"miiRegister", reg}, {"value", value}};
  } else if (what == "fail") {
    if (argv.size() < 4)
      throw CommandError("usage: sim fail COUNT TEXT");
    auto count = static_cast<unsigned>(number(argv[2], "COUNT", 1000000));
    std::string error = joined({argv.begin() + 3, argv.end()}, " ");
    if (error.empty())
      throw CommandError("TEXT must not be empty");
    chip.failNextAccesses(count, error);
    text = "the next " + std::to_string(count) + " register accesses fail: " + error;
    r = {{"count", count}, {"error", error}};
  } else {
    throw CommandError(
        "usage: sim link PORT up|down|flap | sim reg PAGE ADDR VALUE | "
        "sim fail COUNT TEXT");
  }
  s.afterHostChange();
  logged(s, text + " (by hand)");
  return done(text, r);
}

}  // namespace Host::Commands
