#include "host/show/StatusExport.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/kiv/Clock.h"

namespace Host {

std::string linkName(unsigned v) {
  auto const* n = Hardware::Bcm53134::linkStatusNames().name(static_cast<std::uint8_t>(v));
  return n ? n : std::to_string(v);
}

StatusSnapshot snapshotOf(Hardware::Bcm53134::Status const& status) {
  StatusSnapshot s;
  s.error = status.error();
  for (auto const& [port, ps] : status.ports())
    s.linkStatus[port] = static_cast<unsigned>(ps->linkStatus());
  return s;
}

nlohmann::ordered_json statusDocument(StatusSnapshot const& s, LinkHistories const& history,
                                      double time) {
  using Json = nlohmann::ordered_json;
  Json ports = Json::object();
  for (auto const& [port, link] : s.linkStatus) {
    Json p = {{"linkStatus", link}, {"link", linkName(link)}};
    if (auto h = history.find(port); h != history.end()) {
      p["transitions"] = h->second.transitions;
      p["lastChange"] = h->second.lastChange;
    }
    ports[std::to_string(port)] = std::move(p);
  }
  Json doc = {{"time", time}, {"error", s.error}, {"ports", std::move(ports)}};
  if (!s.missingNetdevs.empty())
    doc["missingCpuNetdevices"] = s.missingNetdevs;
  if (!s.protodown.empty()) {
    auto onOff = [](std::optional<bool> v) { return v ? Json(*v ? "on" : "off") : Json(); };
    Json netdevs = Json::object();
    for (auto const& [netdev, k] : s.protodown) {
      Json n = {{"interface", k.interface},
                {"agentProtodown", onOff(k.verdict)},
                {"kernelProtodown", onOff(k.kernel)},
                {"protodownReasons", k.reasons},
                {"restores", k.restores}};
      if (!k.trouble.empty())
        n["restoreTrouble"] = k.trouble;
      if (k.heldUntil > 0)
        n["heldUntil"] = k.heldUntil;
      netdevs[netdev] = std::move(n);
    }
    doc["cpuNetdevices"] = std::move(netdevs);
  }
  return doc;
}

std::string statusJson(StatusSnapshot const& s, LinkHistories const& history, double time) {
  // An error text is the agent's; bytes that are not UTF-8 are replaced
  // rather than refused.
  return statusDocument(s, history, time)
             .dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
         "\n";
}

std::vector<std::string> statusChanges(StatusSnapshot const& before, StatusSnapshot const& after) {
  std::vector<std::string> r;
  if (before.error != after.error)
    r.push_back(after.error.empty() ? "error cleared" : "error: " + after.error);
  for (auto const& [port, link] : after.linkStatus) {
    auto it = before.linkStatus.find(port);
    if (it == before.linkStatus.end() || it->second != link) {
      r.push_back("port " + std::to_string(port) + " link status " + std::to_string(link) + " (" +
                  linkName(link) + ")");
    }
  }
  for (auto const& [port, link] : before.linkStatus) {
    if (!after.linkStatus.count(port))
      r.push_back("port " + std::to_string(port) + " removed");
  }
  for (auto const& n : after.missingNetdevs) {
    if (!before.missingNetdevs.contains(n))
      r.push_back("cpuInterface " + n + " names no netdevice of this machine");
  }
  for (auto const& n : before.missingNetdevs) {
    if (!after.missingNetdevs.contains(n))
      r.push_back("cpuInterface " + n + ": netdevice found");
  }
  return r;
}

std::string statusLine(std::size_t mgmtInterfaces, StatusSnapshot const& s) {
  std::string missing;
  for (auto const& n : s.missingNetdevs)
    missing += (missing.empty() ? "; no CPU netdevice " : ", ") + n;
  std::string trouble, held;
  for (auto const& [netdev, k] : s.protodown) {
    if (!k.trouble.empty())
      trouble += (trouble.empty() ? "; protodown not restored on " : ", ") + netdev;
    if (k.heldUntil > 0)
      held += (held.empty() ? "; held by hand: " : ", ") + netdev;
  }
  std::string links;
  for (auto const& [port, link] : s.linkStatus) {
    links += (links.empty() ? "" : ", ") + std::to_string(port) + " " +
             (link == 1   ? std::string("up")
              : link == 0 ? std::string("down")
                          : linkName(link));
  }
  return std::to_string(mgmtInterfaces) + " management interface" +
         (mgmtInterfaces == 1 ? "" : "s") + "; links: " + (links.empty() ? "none" : links) +
         "; error: " + (s.error.empty() ? "none" : s.error) + missing + trouble + held;
}

void writeFileAtomically(std::string const& path, std::string const& content, mode_t mode) {
  // A fresh name beside the target, created exclusively: nothing planted
  // there (a symlink, another file) is ever opened, and the rename stays
  // within one file system.
  auto slash = path.rfind('/');
  std::string tmp = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "." +
                    path.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
  int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0)
    throw std::runtime_error("cannot write a temporary file beside " + path + ": " +
                             std::strerror(errno));
  auto fail = [&](char const* what) {
    std::string why = std::strerror(errno);
    ::close(fd);
    ::unlink(tmp.c_str());
    throw std::runtime_error(what + path + ": " + why);
  };
  // The mode asked for, whatever the umask.
  if (::fchmod(fd, mode) != 0)
    fail("cannot set the mode of ");
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      fail("cannot write ");
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    std::string why = std::strerror(errno);
    ::unlink(tmp.c_str());
    throw std::runtime_error("cannot write " + path + ": " + why);
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    std::string why = std::strerror(errno);
    ::unlink(tmp.c_str());
    throw std::runtime_error("cannot replace " + path + ": " + why);
  }
}

void StatusFile::write(StatusSnapshot const& s, LinkHistories const& history) const {
  writeFileAtomically(path_, statusJson(s, history, Kiv::System::currentTime()));
}

StatusWatcher::StatusWatcher(Hardware::Bcm53134::Status& status, Report report)
    : status_(status), report_(std::move(report)), last_(snapshotOf(status)) {
  for (auto const& [port, link] : last_.linkStatus)
    history_[port].lastChange = Kiv::System::currentTime();
  linkTimes(last_.linkStatus);
  slot_.callbackIs([this](Kiv::AttributeId, void const*) {
    if (!flush_.armed())
      flush_.arm(Kiv::System::currentTime());
  });
  status_.publisher()->subscriberAdd(slot_);
}

StatusWatcher::~StatusWatcher() {
  slot_.unsubscribe();
}

void StatusWatcher::listenerIs(StatusListener& listener, std::string output) {
  listeners_.push_back(std::make_unique<Listener>(
      &listener, OutputHealth(std::move(output), [this](std::string const& t) {
        if (report_)
          report_(t);
      })));
}

void StatusWatcher::listenerDel(StatusListener& listener) {
  std::erase_if(listeners_, [&](auto const& l) { return l->listener == &listener; });
}

void StatusWatcher::attempt(StatusListener& listener, std::function<void()> const& write) {
  for (auto const& l : listeners_) {
    if (l->listener == &listener && !l->health.attempt(write) && !retry_.armed())
      retry_.arm(Kiv::System::currentTime() + kRetry);
  }
}

void StatusWatcher::portsIs(std::set<unsigned> ports) {
  ports_ = std::move(ports);
  changed();
}

void StatusWatcher::missingNetdevsIs(std::set<std::string> netdevs) {
  missingNetdevs_ = std::move(netdevs);
  changed();
}

void StatusWatcher::protodownIs(std::map<std::string, ProtodownKeeping> keeping) {
  protodown_ = std::move(keeping);
  changed();
}

void StatusWatcher::changed() {
  flush_.disarm();
  auto now = snapshotOf(status_);
  now.missingNetdevs = missingNetdevs_;
  now.protodown = protodown_;
  if (ports_)
    std::erase_if(now.linkStatus, [this](auto const& p) { return !ports_->contains(p.first); });
  if (now == last_)
    return;
  auto lines = statusChanges(last_, now);
  double const t = Kiv::System::currentTime();
  for (auto const& [port, link] : now.linkStatus) {
    auto before = last_.linkStatus.find(port);
    if (before == last_.linkStatus.end()) {
      history_[port].lastChange = t;  // first published, or back after removal
    } else if (before->second != link) {
      ++history_[port].transitions;
      history_[port].lastChange = t;
    }
  }
  linkTimes(now.linkStatus, &last_.linkStatus);
  last_ = std::move(now);
  tell(lines, false);
}

void StatusWatcher::linkTimes(std::map<unsigned, unsigned> const& now,
                              std::map<unsigned, unsigned> const* before) {
  double const t = Kiv::System::currentTime();
  for (auto const& [port, link] : now) {
    auto const b = before ? before->find(port) : now.end();
    if (before && b != before->end() && b->second == link)
      continue;
    if (link == 0)
      history_[port].lastDown = t;
    else if (link == 1)
      history_[port].lastUp = t;
  }
}

void StatusWatcher::tell(std::vector<std::string> const& lines, bool failedOnly) {
  retry_.disarm();
  StatusChange const change{lines, last_, history_};
  bool anyFailing = false;
  for (auto const& l : listeners_) {
    if (failedOnly && !l->health.failing())
      continue;
    if (!l->health.attempt([&] { l->listener->statusChanged(change); }))
      anyFailing = true;
  }
  if (anyFailing)
    retry_.arm(Kiv::System::currentTime() + kRetry);
}

}  // namespace Host
