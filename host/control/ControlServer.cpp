#include "host/control/ControlServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "host/control/ControlProtocol.h"

namespace Host {

namespace {

using Json = nlohmann::ordered_json;

std::string errnoText(std::string const& what) {
  return what + ": " + std::strerror(errno);
}

std::string errorLine(std::string const& text) {
  return Control::jsonText(Json{{"ok", false}, {"error", text}}) + "\n";
}

// Best effort, for connections that are closed right after.
void sendNow(int fd, std::string const& s) {
  [[maybe_unused]] auto n = ::send(fd, s.data(), s.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

sockaddr_un addressOf(std::string const& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof a.sun_path) {
    throw std::runtime_error("control socket path '" + path + "' must be 1 to " +
                             std::to_string(sizeof a.sun_path - 1) + " bytes long");
  }
  std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
  return a;
}

// A directory someone else could swap the socket in: not ours or root's, or
// writable by others without the sticky bit.
void checkDirectory(std::string const& dir) {
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0)
    throw std::runtime_error(errnoText("control socket directory " + dir));
  if (!S_ISDIR(st.st_mode))
    throw std::runtime_error("control socket directory " + dir + " is not a directory");
  if (st.st_uid != ::geteuid() && st.st_uid != 0) {
    throw std::runtime_error("control socket directory " + dir + " belongs to uid " +
                             std::to_string(st.st_uid) + ", not to this user");
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !(st.st_mode & S_ISVTX)) {
    throw std::runtime_error("control socket directory " + dir +
                             " is writable by other users; choose another with --control");
  }
}

// The supplementary groups of process `pid` as /proc shows them: for a
// kernel, or an emulator, that does not answer SO_PEERGROUPS.
bool inProcGroups(pid_t pid, gid_t group) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Groups:", 0) != 0)
      continue;
    std::istringstream groups(line.substr(7));
    for (gid_t g; groups >> g;) {
      if (g == group)
        return true;
    }
    return false;
  }
  return false;
}

// Whether `group` is among the supplementary groups the peer had when it
// connected (else, where SO_PEERGROUPS is not answered, has now).
bool inPeerGroups(int fd, pid_t pid, gid_t group) {
  std::vector<gid_t> groups(32);
  for (;;) {
    socklen_t len = static_cast<socklen_t>(groups.size() * sizeof(gid_t));
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups.data(), &len) == 0) {
      groups.resize(len / sizeof(gid_t));
      return std::find(groups.begin(), groups.end(), group) != groups.end();
    }
    // ERANGE: len says how much room they take (an emulator may say
    // ERANGE without it).
    if (errno != ERANGE || len / sizeof(gid_t) <= groups.size())
      return inProcGroups(pid, group);
    groups.resize(len / sizeof(gid_t));
  }
}

}  // namespace

ControlServer::ControlServer(std::string path, Handler handler)
    : path_(std::move(path)), handler_(std::move(handler)) {
  try {
    listen();
  } catch (...) {
    removeDir();
    throw;
  }
}

void ControlServer::removeDir() const {
  if (!madeDir_)
    return;
  auto slash = path_.rfind('/');
  ::rmdir(path_.substr(0, slash == 0 ? 1 : slash).c_str());
}

ControlServer::~ControlServer() {
  auto& loop = Kiv::EventLoop::instance();
  for (auto const& c : clients_) {
    if (c->watched)
      loop.fdWatchDel(c->fd);
    ::close(c->fd);
  }
  clients_.clear();
  if (fd_ >= 0) {
    loop.fdWatchDel(fd_);
    ::close(fd_);
  }
  // Only our own socket file: another host may have taken the path since.
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_)
    ::unlink(path_.c_str());
  removeDir();
}

void ControlServer::listen() {
  auto addr = addressOf(path_);
  auto slash = path_.rfind('/');
  std::string dir =
      slash == std::string::npos ? std::string(".") : path_.substr(0, slash == 0 ? 1 : slash);
  if (::mkdir(dir.c_str(), 0700) == 0) {
    madeDir_ = true;
  } else if (errno != EEXIST) {
    throw std::runtime_error(errnoText("cannot make control socket directory " + dir));
  } else {
    checkDirectory(dir);
  }

  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode))
      throw std::runtime_error(path_ + " exists and is not a socket");
    int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int rc = ::connect(probe, reinterpret_cast<sockaddr const*>(&addr), sizeof addr);
    int err = errno;
    ::close(probe);
    if (rc == 0 || err == EAGAIN)
      throw ControlSocketBusy("another host answers on " + path_);
    if (err != ECONNREFUSED)
      throw std::runtime_error(path_ + ": " + std::strerror(err));
    ::unlink(path_.c_str());  // left by a host that is gone
  }

  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0)
    throw std::runtime_error(errnoText("socket"));
  // The file is born 0660: no moment at which another user could connect
  // but a member of its group, whom peerAccess() lets only look.
  mode_t old = ::umask(0117);
  int rc = ::bind(fd_, reinterpret_cast<sockaddr const*>(&addr), sizeof addr);
  int err = errno;
  ::umask(old);
  if (rc != 0 || ::listen(fd_, 16) != 0 || ::lstat(path_.c_str(), &st) != 0) {
    if (rc == 0) {
      err = errno;
      ::unlink(path_.c_str());
    }
    ::close(fd_);
    fd_ = -1;
    if (err == EADDRINUSE)  // another host bound it since the look above
      throw ControlSocketBusy("another host answers on " + path_);
    throw std::runtime_error("cannot listen on " + path_ + ": " + std::strerror(err));
  }
  dev_ = st.st_dev;
  ino_ = st.st_ino;
  group_ = st.st_gid;
  Kiv::EventLoop::instance().fdWatchIs(fd_, [this] { accept(); });
}

std::optional<Control::Access> ControlServer::peerAccess(int fd, std::string* why) const {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) {
    *why = errnoText("refused: cannot tell who is asking");
    return std::nullopt;
  }
  if (cred.uid == ::geteuid() || cred.uid == 0)
    return Control::Access::change;
  if (cred.gid == group_ || inPeerGroups(fd, cred.pid, group_))
    return Control::Access::look;
  *why = "refused: uid " + std::to_string(cred.uid) + " is neither this host's user (uid " +
         std::to_string(::geteuid()) + ") nor root, nor a member of the socket's group (gid " +
         std::to_string(group_) + ")";
  return std::nullopt;
}

void ControlServer::accept() {
  for (;;) {
    int fd = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED)
        continue;
      return;  // EAGAIN: nothing more waiting (or out of descriptors: try later)
    }
    std::string why;
    auto access = peerAccess(fd, &why);
    if (!access) {
      sendNow(fd, errorLine(why));
      ::close(fd);
      continue;
    }
    if (clients_.size() >= kMaxConnections) {
      sendNow(fd, errorLine("too many control connections; try again"));
      ::close(fd);
      continue;
    }
    auto c = std::make_unique<Client>();
    c->fd = fd;
    c->access = *access;
    c->lastActive = Kiv::EventLoop::instance().now();
    watch(*c, true);
    clients_.push_back(std::move(c));
    armHousekeeping();
  }
}

ControlServer::Client* ControlServer::client(int fd) {
  for (auto const& c : clients_) {
    if (c->fd == fd)
      return c.get();
  }
  return nullptr;
}

void ControlServer::watch(Client& c, bool on) {
  if (on == c.watched)
    return;
  c.watched = on;
  int fd = c.fd;
  if (on)
    Kiv::EventLoop::instance().fdWatchIs(fd, [this, fd] { readable(fd); });
  else
    Kiv::EventLoop::instance().fdWatchDel(fd);
}

void ControlServer::drop(int fd) {
  auto it =
      std::find_if(clients_.begin(), clients_.end(), [fd](auto const& c) { return c->fd == fd; });
  if (it == clients_.end())
    return;
  watch(**it, false);
  ::close(fd);
  clients_.erase(it);
  armHousekeeping();
}

void ControlServer::readable(int fd) {
  Client* c = client(fd);
  if (!c)
    return;
  char buf[16384];
  ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
  if (n < 0) {
    if (errno != EAGAIN && errno != EINTR)
      drop(fd);
    return;
  }
  if (n == 0) {
    c->closing = true;  // answer what came complete, then close
  } else {
    c->in.append(buf, static_cast<std::size_t>(n));
  }
  serve(*c);
}

bool ControlServer::serve(Client& c) {
  auto const now = Kiv::EventLoop::instance().now();
  while (c.out.empty()) {
    auto nl = c.in.find('\n');
    if (nl == std::string::npos ? c.in.size() > Control::kMaxRequestBytes
                                : nl > Control::kMaxRequestBytes) {
      c.out =
          errorLine("request longer than " + std::to_string(Control::kMaxRequestBytes) + " bytes");
      c.in.clear();
      c.closing = true;
    } else if (nl == std::string::npos) {
      break;
    } else {
      std::string line = c.in.substr(0, nl);
      c.in.erase(0, nl + 1);
      c.lastActive = now;
      c.out = respond(line, c.access) + "\n";
    }
    c.outSince = now;
    if (!flush(c)) {
      drop(c.fd);
      return false;
    }
  }
  if (c.closing && c.out.empty()) {
    drop(c.fd);
    return false;
  }
  // Nothing more is read while an answer waits to go out.
  watch(c, c.out.empty() && !c.closing);
  armHousekeeping();
  return true;
}

std::string ControlServer::respond(std::string const& line, Control::Access access) const {
  Json request = Json::parse(line, nullptr, false);
  if (request.is_discarded() || !request.is_object() || !request.contains("argv") ||
      !request["argv"].is_array()) {
    return Control::jsonText(
        Json{{"ok", false}, {"error", "bad request: expected {\"argv\": [...]}"}});
  }
  std::vector<std::string> argv;
  for (auto const& a : request["argv"]) {
    if (!a.is_string())
      return Control::jsonText(
          Json{{"ok", false}, {"error", "bad request: argv holds only strings"}});
    argv.push_back(a.get<std::string>());
  }
  try {
    return Control::jsonText(handler_(argv, access));
  } catch (std::exception const& e) {
    return Control::jsonText(Json{{"ok", false}, {"error", e.what()}});
  }
}

bool ControlServer::flush(Client& c) {
  while (!c.out.empty()) {
    ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c.out.erase(0, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return n < 0 && errno == EAGAIN;
    }
  }
  return true;
}

void ControlServer::housekeeping() {
  auto const now = Kiv::EventLoop::instance().now();
  std::vector<int> fds;
  for (auto const& c : clients_)
    fds.push_back(c->fd);
  for (int fd : fds) {
    Client* c = client(fd);
    if (!c->out.empty()) {
      if (!flush(*c) || (!c->out.empty() && now - c->outSince > kStuckTimeout))
        drop(fd);
      else if (c->out.empty())
        serve(*c);
    } else if (now - c->lastActive > kIdleTimeout) {
      drop(fd);
    }
  }
  armHousekeeping();
}

void ControlServer::armHousekeeping() {
  if (clients_.empty()) {
    timer_.disarm();
    return;
  }
  auto const now = Kiv::EventLoop::instance().now();
  Kiv::Seconds next = now + kIdleTimeout;
  for (auto const& c : clients_)
    next = std::min(next, c->out.empty() ? c->lastActive + kIdleTimeout : now + 0.02);
  timer_.arm(next);
}

void ControlServer::pollOnce(int timeoutMs) {
  std::vector<pollfd> fds{{fd_, POLLIN, 0}};
  for (auto const& c : clients_) {
    if (c->watched)
      fds.push_back({c->fd, POLLIN, 0});
  }
  if (::poll(fds.data(), fds.size(), timeoutMs) <= 0)
    return;
  for (auto const& p : fds) {
    if (!(p.revents & (POLLIN | POLLHUP | POLLERR)))
      continue;
    if (p.fd == fd_)
      accept();
    else
      readable(p.fd);
  }
}

}  // namespace Host
