#include "workbench/control/WorkbenchControl.h"

#include <charconv>
#include <sstream>

#include "host/agent/RunningAgent.h"
#include "host/appliance/StateDb.h"
#include "host/control/CommandSupport.h"
#include "workbench/chip/ChipActions.h"

// sim: the simulated chip's links, registers and failures, changed by hand.
namespace Host::Commands {

namespace {

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

namespace {

// The agentctl words of an action: "sim link PORT up|down|flap". The
// register actions are addressed as the register service reaches them.
std::string usageOf(ChipAction const& a) {
  std::string u = std::string("sim ") + a.word;
  if (a.params.size() == 3 && a.params[1] == ChipParam::reg)
    return u + " PAGE ADDR VALUE";
  for (auto p : a.params)
    u += std::string(" ") + chipParamWord(p);
  return u;
}

std::string allUsages() {
  std::string u = "usage: ";
  for (auto const& a : chipActions())
    u += (u.size() > 7 ? " | " : "") + usageOf(a);
  return u;
}

}  // namespace

std::vector<std::string> simWords() {
  std::vector<std::string> words;
  for (auto const& a : chipActions())
    words.emplace_back(a.word);
  return words;
}

Json simCommand(ControlContext& c, std::vector<std::string> const& argv) {
  auto& s = c.agent;
  auto& chip = s.db().chip();
  auto const* act = chipActionByWord(argv.size() > 1 ? argv[1] : "");
  if (!act)
    throw CommandError(allUsages());
  bool textLast = !act->params.empty() && act->params.back() == ChipParam::error;
  std::size_t words = 2 + act->params.size();
  if (textLast ? argv.size() < words : argv.size() != words)
    throw CommandError("usage: " + usageOf(*act) +
                       (act->params.size() == 3 && act->params[1] == ChipParam::reg
                            ? " (e.g. sim reg 0x11 0x30 0x0)"
                            : ""));
  ChipArgs a;
  Json r = Json::object();
  for (std::size_t i = 0; i < act->params.size(); ++i) {
    auto p = act->params[i];
    auto const& w = argv[2 + i];
    switch (p) {
      case ChipParam::port:
        if (act->params.size() == 3) {
          // As the register service reaches them: page 0x10 + p, address a
          // is MII register a / 2 of the PHY of port p.
          auto page = number(w, "PAGE", 0xff);
          auto addr = number(argv[3], "ADDR", 0xff);
          if (page < 0x10 || page >= 0x10 + SimChip::kPorts)
            throw CommandError("PAGE must be 0x10 to 0x17 (0x10 + port)");
          if (addr % 2 || addr >= 64)
            throw CommandError("ADDR must be even and below 0x40 (MII register ADDR / 2)");
          a.port = static_cast<unsigned>(page - 0x10);
          a.reg = static_cast<std::uint8_t>(addr / 2);
          r["page"] = page;
          r["addr"] = addr;
          r["miiRegister"] = a.reg;
        } else {
          a.port = static_cast<unsigned>(number(w, "PORT", chipParamMax(p)));
        }
        r["port"] = a.port;
        break;
      case ChipParam::reg:
        break;  // with the page, above
      case ChipParam::value:
        a.value = static_cast<std::uint16_t>(number(w, "VALUE", chipParamMax(p)));
        r["value"] = a.value;
        break;
      case ChipParam::count:
        a.count = static_cast<unsigned>(number(w, "COUNT", chipParamMax(p)));
        r["count"] = a.count;
        break;
      case ChipParam::linkState:
        a.state = w;
        if (auto why = linkStateProblem(a.state); !why.empty())
          throw CommandError("the link state " + why + ", not '" + a.state + "'");
        r["link"] = a.state;
        break;
      case ChipParam::error:
        a.error = joined({argv.begin() + 2 + static_cast<std::ptrdiff_t>(i), argv.end()}, " ");
        if (auto why = errorTextProblem(a.error); !why.empty())
          throw CommandError("TEXT " + why);
        r["error"] = a.error;
        break;
      case ChipParam::fail:
        if (w != "true" && w != "false")
          throw CommandError("FAIL must be true or false, not '" + w + "'");
        a.fail = w == "true";
        r["fail"] = a.fail;
        break;
    }
  }
  act->apply(chip, a);
  std::string text = act->text(a);
  s.afterHostChange();
  logged(s, text + " (by hand)");
  return done(text, r.empty() ? Json(nullptr) : r);
}

}  // namespace Host::Commands
