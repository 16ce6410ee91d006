#include "host/show/metrics/MetricsEndpoint.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <prometheus/collectable.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <stdexcept>

namespace Host {

namespace {

using Clock = std::chrono::steady_clock;

// What to look at when the address cannot be had, by the kernel's reason.
std::string advice(int err, MetricsAddress const& a) {
  auto const port = std::to_string(a.port);
  switch (err) {
    case EADDRINUSE:
      return "another program listens on port " + port + " (ss -ltnp 'sport = :" + port +
             "'); choose another port with --metrics";
    case EACCES:
      return "ports below 1024 need CAP_NET_BIND_SERVICE; choose a port of 1024 or more";
    case EADDRNOTAVAIL:
      return a.host +
             " is not an address of this machine (ip address show); use one that is, "
             "127.0.0.1 or 0.0.0.0";
    default:
      return "the address and port given to --metrics";
  }
}

int listening(MetricsAddress const& a) {
  sockaddr_storage ss{};
  socklen_t len = 0;
  if (a.ipv6()) {
    auto& s6 = reinterpret_cast<sockaddr_in6&>(ss);
    s6.sin6_family = AF_INET6;
    s6.sin6_port = htons(static_cast<std::uint16_t>(a.port));
    ::inet_pton(AF_INET6, a.host.c_str(), &s6.sin6_addr);
    len = sizeof s6;
  } else {
    auto& s4 = reinterpret_cast<sockaddr_in&>(ss);
    s4.sin_family = AF_INET;
    s4.sin_port = htons(static_cast<std::uint16_t>(a.port));
    ::inet_pton(AF_INET, a.host.c_str(), &s4.sin_addr);
    len = sizeof s4;
  }
  int fd = ::socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int err = fd < 0 ? errno : 0;
  if (fd >= 0) {
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (a.ipv6())
      ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&ss), len) != 0 || ::listen(fd, 16) != 0) {
      err = errno;
      ::close(fd);
    }
  }
  if (err) {
    throw std::runtime_error("cannot serve metrics on " + a.text() + ": " + std::strerror(err) +
                             ". Check: " + advice(err, a));
  }
  return fd;
}

std::string response(char const* status, std::string const& type, std::string const& body,
                     bool head, char const* extra = "") {
  return std::string("HTTP/1.1 ") + status + "\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra +
         "Connection: close\r\n\r\n" + (head ? std::string() : body);
}

// Where a request's head ends: at an empty line, its lines ended by CRLF or,
// as a server is to accept, by a bare LF. npos while it has not come.
std::size_t headEnd(std::string const& in) {
  for (auto at = in.find('\n'); at != std::string::npos; at = in.find('\n', at + 1)) {
    if (at + 1 < in.size() && in[at + 1] == '\n')
      return at;
    if (at + 2 < in.size() && in[at + 1] == '\r' && in[at + 2] == '\n')
      return at;
  }
  return std::string::npos;
}

// The path of a request target: an origin form as it is, an absolute form
// ("http://host:port/metrics") without its scheme and authority.
std::string targetPath(std::string target) {
  target = target.substr(0, target.find('?'));
  auto const scheme = target.find("://");
  if (scheme != std::string::npos && target.find('/') > scheme) {
    auto const path = target.find('/', scheme + 3);
    return path == std::string::npos ? "/" : target.substr(path);
  }
  return target;
}

}  // namespace

// A client's connection: its request as it comes in, then the answer as it
// goes out, each within its time.
struct MetricsEndpoint::Connection {
  int fd = -1;
  Clock::time_point deadline;
  std::string in, out;
  std::size_t sent = 0;
  bool answering = false;
};

MetricsEndpoint::MetricsEndpoint(MetricsAddress const& address) : address_(address) {
  listen_ = listening(address_);
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    ::close(listen_);
    throw std::runtime_error(std::string("metrics endpoint: pipe: ") + std::strerror(errno));
  }
  // The thread is born with every signal blocked.
  sigset_t all, previous;
  sigfillset(&all);
  ::pthread_sigmask(SIG_BLOCK, &all, &previous);
  thread_ = std::thread([this] { run(); });
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

MetricsEndpoint::~MetricsEndpoint() {
  char const c = 0;
  [[maybe_unused]] auto n = ::write(wake_[1], &c, 1);
  thread_.join();
  ::close(wake_[0]);
  ::close(wake_[1]);
  ::close(listen_);
}

void MetricsEndpoint::serve(Metrics const& m) {
  auto const collectables = m.collectables();
  std::lock_guard lock(mutex_);
  served_.insert(served_.end(), collectables.begin(), collectables.end());
}

void MetricsEndpoint::withdraw(Metrics const& m) {
  auto const collectables = m.collectables();
  std::lock_guard lock(mutex_);
  std::erase_if(served_, [&](auto const& w) {
    auto const p = w.lock();
    return !p || std::find(collectables.begin(), collectables.end(), p) != collectables.end();
  });
}

std::string MetricsEndpoint::url() const {
  MetricsAddress bound = address_;
  sockaddr_storage ss{};
  socklen_t len = sizeof ss;
  if (::getsockname(listen_, reinterpret_cast<sockaddr*>(&ss), &len) == 0) {
    bound.port =
        ntohs(ss.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 const&>(ss).sin6_port
                                       : reinterpret_cast<sockaddr_in const&>(ss).sin_port);
  }
  return "http://" + bound.text() + "/metrics";
}

std::string MetricsEndpoint::answer(std::string const& head) {
  auto line = head.substr(0, head.find('\n'));
  if (!line.empty() && line.back() == '\r')
    line.pop_back();
  auto const sp1 = line.find(' ');
  auto const sp2 = line.find(' ', sp1 == std::string::npos ? sp1 : sp1 + 1);
  std::string const method = line.substr(0, sp1);
  std::string target = sp1 == std::string::npos ? "" : line.substr(sp1 + 1, sp2 - sp1 - 1);
  target = targetPath(target);
  bool const head_only = method == "HEAD";
  if (method != "GET" && !head_only)
    return response("405 Method Not Allowed", "text/plain", "GET /metrics\n", false,
                    "Allow: GET, HEAD\r\n");
  if (target != "/metrics")
    return response("404 Not Found", "text/plain", "the metrics are at /metrics\n", head_only);
  std::vector<prometheus::MetricFamily> families;
  {
    std::lock_guard lock(mutex_);
    for (auto const& w : served_) {
      if (auto c = w.lock()) {
        for (auto& f : c->Collect())
          families.push_back(std::move(f));
      }
    }
  }
  return response("200 OK", "text/plain; version=0.0.4; charset=utf-8",
                  prometheus::TextSerializer().Serialize(families), head_only);
}

void MetricsEndpoint::run() {
  constexpr std::size_t kMaxRequest = 8192;
  std::deque<Connection> conns;  // oldest first
  auto const timeout = std::chrono::milliseconds(kRequestTimeoutMs);
  std::vector<pollfd> fds;
  for (;;) {
    fds.assign({{wake_[0], POLLIN, 0}, {listen_, POLLIN, 0}});
    auto next = Clock::time_point::max();
    for (auto const& c : conns) {
      fds.push_back({c.fd, static_cast<short>(c.answering ? POLLOUT : POLLIN), 0});
      next = std::min(next, c.deadline);
    }
    int wait = -1;
    if (next != Clock::time_point::max()) {
      auto const left =
          std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
      wait = static_cast<int>(std::clamp<long long>(left + 1, 0, kRequestTimeoutMs));
    }
    if (::poll(fds.data(), fds.size(), wait) < 0 && errno != EINTR)
      return;
    if (fds[0].revents)
      break;
    auto const now = Clock::now();
    // Each connection in turn; a finished or late one is closed.
    for (std::size_t i = 0; i < conns.size(); ++i) {
      auto& c = conns[i];
      short const ev = fds[i + 2].revents;
      bool done = now >= c.deadline || (ev & (POLLERR | POLLNVAL));
      if (!done && !c.answering && (ev & (POLLIN | POLLHUP))) {
        char buf[2048];
        ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n > 0) {
          c.in.append(buf, static_cast<std::size_t>(n));
          if (auto end = headEnd(c.in); end != std::string::npos) {
            c.out = answer(c.in.substr(0, end));
            c.answering = true;
            c.deadline = now + timeout;
          } else if (c.in.size() > kMaxRequest) {
            c.out = response("431 Request Header Fields Too Large", "text/plain", "", false);
            c.answering = true;
          }
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
          done = true;
        }
      }
      if (!done && c.answering && (ev & POLLOUT || c.sent == 0)) {
        ssize_t n = ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
        if (n > 0)
          c.sent += static_cast<std::size_t>(n);
        else if (errno != EAGAIN && errno != EINTR)
          done = true;
        done = done || c.sent == c.out.size();
      }
      if (done) {
        ::close(c.fd);
        c.fd = -1;
      }
    }
    std::erase_if(conns, [](Connection const& c) { return c.fd < 0; });
    if (fds[1].revents & POLLIN) {
      for (int fd;
           (fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;) {
        if (conns.size() >= kMaxConnections) {
          ::close(conns.front().fd);
          conns.pop_front();
        }
        conns.push_back({fd, now + timeout, {}, {}, 0, false});
      }
    }
  }
  for (auto const& c : conns)
    ::close(c.fd);
}

}  // namespace Host
