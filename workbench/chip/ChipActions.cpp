#include "workbench/chip/ChipActions.h"

#include <cstdio>

namespace Host {

namespace {

using Addr = Hardware::Mdio::PortAddr;

std::string hexText(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

Addr addr(ChipArgs const& a) {
  return static_cast<Addr>(a.port);
}

constexpr ChipParam kLink[] = {ChipParam::port, ChipParam::linkState};
constexpr ChipParam kRegister[] = {ChipParam::port, ChipParam::reg, ChipParam::value};
constexpr ChipParam kFail[] = {ChipParam::count, ChipParam::error};
constexpr ChipParam kMiiReadFail[] = {ChipParam::port, ChipParam::fail};

constexpr ChipAction kActions[] = {
    {"link", "link", kLink,
     [](ChipArgs const& a) {
       return "link " + std::to_string(a.port) + " " + a.state +
              (a.state == "flap" ? " (down and up between two reads: only the latch sees it)" : "");
     },
     [](SimChip& c, ChipArgs const& a) {
       if (a.state == "flap")
         c.linkFlap(addr(a));
       else
         c.linkIs(addr(a), a.state == "up");
     }},
    {"register", "reg", kRegister,
     [](ChipArgs const& a) {
       return "chip port " + std::to_string(a.port) + " " + chipRegName(a.reg) + " set to " +
              hexText(a.value) + " behind the agent's back";
     },
     [](SimChip& c, ChipArgs const& a) { c.regIs(addr(a), a.reg, a.value); }},
    {"readValue", "readValue", kRegister,
     [](ChipArgs const& a) {
       return "the next read of chip port " + std::to_string(a.port) + " " + chipRegName(a.reg) +
              " returns " + hexText(a.value);
     },
     [](SimChip& c, ChipArgs const& a) { c.readValueIs(addr(a), a.reg, a.value); }},
    {"failAccesses", "fail", kFail,
     [](ChipArgs const& a) {
       return "the next " + std::to_string(a.count) + " register accesses fail: " + a.error;
     },
     [](SimChip& c, ChipArgs const& a) { c.failNextAccesses(a.count, a.error); }},
    {"miiReadFail", "miiReadFail", kMiiReadFail,
     [](ChipArgs const& a) {
       return "MII status reads of port " + std::to_string(a.port) +
              (a.fail ? " fail" : " work again");
     },
     [](SimChip& c, ChipArgs const& a) { c.miiReadFailIs(addr(a), a.fail); }},
    {"clearCounters",
     "clearCounters",
     {},
     [](ChipArgs const&) { return std::string("chip counters cleared"); },
     [](SimChip& c, ChipArgs const&) { c.countersClear(); }},
};

}  // namespace

std::span<ChipAction const> chipActions() {
  return kActions;
}

ChipAction const* chipActionByEvent(std::string_view key) {
  for (auto const& a : kActions) {
    if (key == a.event)
      return &a;
  }
  return nullptr;
}

ChipAction const* chipActionByWord(std::string_view word) {
  for (auto const& a : kActions) {
    if (word == a.word)
      return &a;
  }
  return nullptr;
}

char const* chipParamKey(ChipParam p) {
  switch (p) {
    case ChipParam::port:
      return "port";
    case ChipParam::reg:
      return "reg";
    case ChipParam::value:
      return "value";
    case ChipParam::linkState:
      return "state";
    case ChipParam::count:
      return "count";
    case ChipParam::error:
      return "error";
    case ChipParam::fail:
      return "fail";
  }
  return "";
}

char const* chipParamWord(ChipParam p) {
  switch (p) {
    case ChipParam::port:
      return "PORT";
    case ChipParam::reg:
      return "REG";
    case ChipParam::value:
      return "VALUE";
    case ChipParam::linkState:
      return "up|down|flap";
    case ChipParam::count:
      return "COUNT";
    case ChipParam::error:
      return "TEXT";
    case ChipParam::fail:
      return "true|false";
  }
  return "";
}

std::uint64_t chipParamMax(ChipParam p) {
  switch (p) {
    case ChipParam::port:
      return SimChip::kPorts - 1;
    case ChipParam::reg:
      return 31;
    case ChipParam::value:
      return 0xffff;
    case ChipParam::count:
      return 1000000;
    default:
      return 0;
  }
}

std::string linkStateProblem(std::string const& state) {
  if (state == "up" || state == "down" || state == "flap")
    return {};
  return "must be up, down or flap";
}

std::string errorTextProblem(std::string const& text) {
  return text.empty() ? "must not be empty" : "";
}

std::string chipRegName(std::uint8_t reg) {
  switch (reg) {
    case SimChip::kExtCtrl:
      return "extendedControl";
    case SimChip::kAuxCtrl:
      return "auxControl";
    case SimChip::kMiiStatus:
      return "miiStatus";
    default:
      return "MII register " + std::to_string(reg);
  }
}

int chipRegByName(std::string_view name) {
  for (std::uint8_t r : {SimChip::kExtCtrl, SimChip::kAuxCtrl, SimChip::kMiiStatus}) {
    if (name == chipRegName(r))
      return r;
  }
  return -1;
}

}  // namespace Host
