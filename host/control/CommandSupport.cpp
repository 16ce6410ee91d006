#include "host/control/CommandSupport.h"

#include <algorithm>

#include "host/agent/RunningAgent.h"
#include "host/show/Timeline.h"
#include "platform/agent/CAgent.h"
#include "platform/kiv/Generic.h"

namespace Host::Commands {

Json done(std::string text, Json result) {
  while (!text.empty() && text.back() == '\n')
    text.pop_back();
  return Json{{"ok", true}, {"text", std::move(text)}, {"result", std::move(result)}};
}

std::string Table::text(std::string const& indent) const {
  std::vector<std::size_t> width;
  for (auto const& r : rows_) {
    width.resize(std::max(width.size(), r.size()));
    for (std::size_t i = 0; i < r.size(); ++i)
      width[i] = std::max(width[i], r[i].size());
  }
  std::string out;
  for (auto const& r : rows_) {
    std::string line = indent;
    for (std::size_t i = 0; i < r.size(); ++i)
      line += r[i] + (i + 1 < r.size() ? std::string(width[i] - r[i].size() + 2, ' ') : "");
    out += line + "\n";
  }
  return out;
}

Orba::Ptr<Orba::Node> const* handleIn(Kiv::Value const& v) {
  return v.empty() ? nullptr : std::any_cast<Orba::Ptr<Orba::Node>>(&v.raw());
}

std::string typeName(Orba::Node const& n) {
  return n.typeData() ? n.typeData()->name : "an unregistered type";
}

Json valueJson(Kiv::Value const& v) {
  if (v.empty())
    return nullptr;
  auto const* t = v.type();
  if (auto const* h = handleIn(v))
    return *h ? Json(v.text()) : Json(nullptr);
  if (t == &Kiv::TypeOf<bool>::desc())
    return v.as<bool>();
  if (t == &Kiv::TypeOf<std::uint8_t>::desc())
    return v.as<std::uint8_t>();
  if (t == &Kiv::TypeOf<std::uint16_t>::desc())
    return v.as<std::uint16_t>();
  if (t == &Kiv::TypeOf<std::uint32_t>::desc())
    return v.as<std::uint32_t>();
  if (t == &Kiv::TypeOf<std::uint64_t>::desc())
    return v.as<std::uint64_t>();
  if (t == &Kiv::TypeOf<std::int32_t>::desc())
    return v.as<std::int32_t>();
  if (t == &Kiv::TypeOf<std::int64_t>::desc())
    return v.as<std::int64_t>();
  if (t == &Kiv::TypeOf<double>::desc())
    return v.as<double>();
  return v.text();
}

std::string joined(std::vector<std::string> const& v, std::string const& sep) {
  std::string r;
  for (auto const& s : v)
    r += (r.empty() ? "" : sep) + s;
  return r;
}

Orba::Node& rootOf(RunningAgent& s) {
  if (!s.root())
    throw CommandError("the agent is not running");
  return *s.root();
}

std::vector<std::pair<Kiv::Value, Kiv::Value>> sortedMembers(Orba::Node const& n,
                                                             std::string const& attr) {
  auto const* a = n.typeData() ? n.typeData()->attr(attr) : nullptr;
  if (!a || !a->members)
    return {};
  auto ms = Kiv::Generic::members(n, attr);
  std::sort(ms.begin(), ms.end(), [](auto const& x, auto const& y) {
    auto p = x.first.text(), q = y.first.text();
    return p.size() != q.size() ? p.size() < q.size() : p < q;
  });
  return ms;
}

void needArgs(std::vector<std::string> const& argv, std::size_t min, std::size_t max,
              char const* usage) {
  if (argv.size() < min || argv.size() > max)
    throw CommandError(std::string("usage: ") + usage);
}

void logged(RunningAgent& s, std::string const& what) {
  s.timeline().line("control", what);
}

}  // namespace Host::Commands
