#include "workbench/scenario/RecordReplay.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "host/appliance/ApplianceJson.h"

namespace Host {

namespace {

using Json = nlohmann::ordered_json;
namespace Rec = Hardware::Mdio::Record;
constexpr std::uint8_t kMiiStatus = 0x01;
constexpr std::uint16_t kLinkBit = 0x0004;
// Bigger records are refused unread.
constexpr std::size_t kMaxRecordBytes = std::size_t(1) << 30;

Json headerJson(Rec::BusRecord const& r) {
  Json h = Json::parse(r.header, nullptr, false);
  if (!h.is_object())
    throw InputError(r.name + ":1: the first line is not a JSON object");
  return h;
}

std::string seconds(double t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6f", t);
  std::string s = buf;
  while (s.back() == '0')
    s.pop_back();
  if (s.back() == '.')
    s.pop_back();
  return s;
}

// A register service access is one bus time after the one before it (the
// first, one bus time after its cycle begins); the MII status reads are
// synchronous, at the time of the access before them. A cycle ends with its
// last access, and the next begins one poll period later.
bool isStatusRead(Rec::Access const& x) {
  return !x.write && x.reg == kMiiStatus;
}

// The record's poll cycles on the virtual clock a scenario runs by. A record
// made in real time has each access late by the loop's latency, which adds
// up over a long run: an event placed by its raw time can land a cycle late.
// Each access is placed by its cycle instead (accesses more than a tenth of
// a second apart are in different cycles), and each cycle where it starts in
// virtual time: one poll period (the real gap, to the millisecond) after the
// last access of the cycle before, which is one bus time per register access
// after that cycle began.
class CycleClock {
 public:
  explicit CycleClock(Rec::BusRecord const& r) : a_(r.accessTime), of_(r.accesses.size()) {
    double lastT = 0;
    for (std::size_t i = 0; i < r.accesses.size(); ++i) {
      auto const& x = r.accesses[i];
      bool const async = !isStatusRead(x);
      if (cycles_.empty() || x.t - lastT > a_ + 0.1) {
        Cycle c;
        double const realStart = x.t - (async ? a_ : 0);
        if (cycles_.empty()) {
          c.start = r.fromStart ? 0 : realStart;
        } else {
          auto const& p = cycles_.back();
          c.gap = std::max(0.0, std::round((realStart - lastT) * 1e3) / 1e3);
          c.start = p.start + p.registerAccesses * a_ + c.gap;
        }
        cycles_.push_back(c);
      }
      auto& c = cycles_.back();
      if (async)
        ++c.registerAccesses;
      of_[i] = {cycles_.size() - 1, c.registerAccesses};
      lastT = x.t;
    }
    endAfter_ = r.end - lastT;
  }
  // A time after every access of the cycles before access i's, and before
  // any of its own: the middle of the gap.
  double beforeCycleOf(std::size_t i) const {
    auto const& c = cycles_[of_[i].first];
    return of_[i].first == 0 ? c.start / 2 : c.start - c.gap / 2;
  }
  // A time just before access i (a register service access) and after the
  // one before it.
  double before(std::size_t i) const {
    auto const [cycle, ordinal] = of_[i];
    if (ordinal <= 1)
      return beforeCycleOf(i);
    return cycles_[cycle].start + (ordinal - 0.5) * a_;
  }
  // The record's end, as far after its last access as it was recorded.
  double end() const {
    if (cycles_.empty())
      return endAfter_;
    auto const& c = cycles_.back();
    return c.start + c.registerAccesses * a_ + endAfter_;
  }

 private:
  struct Cycle {
    double start = 0, gap = 0;
    unsigned registerAccesses = 0;
  };
  double a_;
  std::vector<Cycle> cycles_;
  std::vector<std::pair<std::size_t, unsigned>> of_;  // access -> cycle, register ordinal
  double endAfter_ = 0;
};

}  // namespace

Rec::BusRecord loadBusRecord(std::string const& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    throw InputError(path + ": cannot be read: " + std::strerror(errno));
  struct stat st {};
  std::string text;
  bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (regular && static_cast<std::size_t>(st.st_size) <= kMaxRecordBytes) {
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < text.size()) {
      ssize_t n = ::read(fd, text.data() + got, text.size() - got);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        break;
      got += static_cast<std::size_t>(n);
    }
    text.resize(got);
  }
  ::close(fd);
  if (!regular)
    throw InputError(path + ": not a regular file");
  if (static_cast<std::size_t>(st.st_size) > kMaxRecordBytes)
    throw InputError(path + ": larger than " + std::to_string(kMaxRecordBytes) + " bytes");
  std::istringstream in(text);
  try {
    return Rec::readBusRecord(in, path);
  } catch (Rec::RecordError const& e) {
    throw InputError(e.what());
  }
}

ApplianceDesc recordedAppliance(Rec::BusRecord const& r) {
  Json h = headerJson(r);
  auto it = h.find("appliance");
  if (it == h.end() || !it->is_object())
    throw InputError(r.name + ":1: the first line describes no appliance");
  ApplianceDesc a = applianceFromJson(*it, r.name, 1);
  // The replayed bus stands in for the chip and any real bus, and the CPU
  // netdevices are made or simulated as in a scenario.
  a.mdio = MdioTransport::sim;
  a.mdioNetdev.clear();
  a.netdevices = NetdevMode::privateNamespace;
  return a;
}

std::string scenarioFromRecord(Rec::BusRecord const& r) {
  Json h = headerJson(r);
  ApplianceDesc a = recordedAppliance(r);
  struct Event {
    double at;
    std::string yaml;
  };
  std::vector<Event> events;
  CycleClock const clock(r);
  struct Seen {
    bool known = false;
    std::uint16_t value = 0;
    bool failing = false;
  };
  std::map<std::pair<unsigned, unsigned>, Seen> seen;
  std::map<unsigned, bool> initialLinks;
  std::size_t skipped = 0;
  for (std::size_t i = 0; i < r.accesses.size(); ++i) {
    auto const& x = r.accesses[i];
    if (x.phy > kMaxPort) {
      ++skipped;
      continue;
    }
    std::string port = std::to_string(x.phy);
    auto& s = seen[{x.phy, x.reg}];
    if (isStatusRead(x)) {
      if (!x.error.empty() != s.failing) {
        s.failing = !x.error.empty();
        events.push_back({clock.beforeCycleOf(i), "miiReadFail: {port: " + port + ", fail: " +
                                                      (s.failing ? "true" : "false") + "}"});
      }
      if (x.error.empty()) {
        bool up = x.value & kLinkBit;
        if (!s.known)
          initialLinks[x.phy] = up;
        else if (up != bool(s.value & kLinkBit))
          events.push_back({clock.beforeCycleOf(i),
                            "link: {port: " + port + ", state: " + (up ? "up" : "down") + "}"});
        s.known = true;
        s.value = x.value;
      }
    } else if (!x.error.empty()) {
      // Failures in a row with one text make one event.
      std::size_t j = i;
      while (j + 1 < r.accesses.size() && r.accesses[j + 1].error == x.error &&
             !isStatusRead(r.accesses[j + 1]))
        ++j;
      events.push_back({clock.before(i), "failAccesses: {count: " + std::to_string(j - i + 1) +
                                             ", error: " + Rec::jsonText(x.error) + "}"});
      i = j;
    } else if (x.write) {
      s.known = true;
      s.value = x.value;
    } else {
      if (s.known ? s.value != x.value : x.value != 0)
        events.push_back({clock.beforeCycleOf(i), "register: {port: " + port +
                                                      ", reg: " + std::to_string(x.reg) +
                                                      ", value: " + std::to_string(x.value) + "}"});
      s.known = true;
      s.value = x.value;
    }
  }
  std::stable_sort(events.begin(), events.end(),
                   [](Event const& l, Event const& m) { return l.at < m.at; });

  a.mdio = MdioTransport::sim;
  a.txDisableCoupling = false;
  a.accessTime = r.accessTime;
  for (auto const& [p, up] : initialLinks)
    a.links[p] = up;
  std::ostringstream out;
  out << "# Made by agenthost --replay " << r.name << " --as-scenario from a bus record ("
      << h.value("transport", "") << ", started " << h.value("start", "") << ").\n"
      << "# The events make the link and register changes the record saw, and its failed\n"
      << "# accesses, on the simulated chip; add expectations and keep it.\n";
  if (!r.cut.empty())
    out << "# " << r.cut << ".\n";
  if (skipped)
    out << "# " << skipped << " accesses to PHYs above " << kMaxPort << " are left out.\n";
  out << "name: " << Rec::jsonText("scenario from " + r.name) << "\n";
  out << "appliance: " << Rec::jsonText(applianceJson(a)) << "\n";
  out << "end: " << seconds(clock.end()) << "\n";
  out << "steps:\n";
  if (events.empty())
    out << "  - {at: 0, note: \"the record saw no changes\"}\n";
  for (auto const& e : events)
    out << "  - {at: " << seconds(e.at) << ", " << e.yaml << "}\n";
  return out.str();
}

}  // namespace Host
