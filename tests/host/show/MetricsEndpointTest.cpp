// The /metrics endpoint of a real-time host: the addresses it takes, every
// form of request and scrapes answered over IPv6 while idle and slow clients
// hold connections, and refusals that say why the address cannot be had.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "host/os/Command.h"
#include "host/show/Metrics.h"
#include "tests/host/HostTestSupport.h"

namespace {

std::string const kAppliance = std::string(EXAMPLES_DIR) + "/appliance.yaml";

TEST(MetricsAddress, PortAloneIsLoopbackAddressesAreNumericIPv6InBrackets) {
  std::pair<char const*, char const*> const bound[] = {
      {"9534", "127.0.0.1:9534"},         {"0", "127.0.0.1:0"},
      {"0.0.0.0:9534", "0.0.0.0:9534"},   {"192.0.2.7:65535", "192.0.2.7:65535"},
      {"[::1]:9534", "[::1]:9534"},       {"[::]:80", "[::]:80"},
      {"[fe80::1:2]:1", "[fe80::1:2]:1"},
  };
  for (auto const& [text, address] : bound)
    EXPECT_EQ(Host::metricsBindAddress(text), address) << text;
  for (std::string bad :
       {"65536", "", "127.0.0.1:", ":9534", "localhost:9534", "::1:9534", "[::1]", "[]:9534",
        "[127.0.0.1]:9534", "256.0.0.1:9534", "127.0.0.1:95x4", "-1"}) {
    try {
      Host::metricsBindAddress(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (std::invalid_argument const& e) {
      EXPECT_EQ(std::string(e.what()),
                "--metrics wants [ADDRESS:]PORT with a numeric address (e.g. 9534, "
                "0.0.0.0:9534 or [::1]:9534), not '" +
                    bad + "'");
    }
  }
}

// The example appliance in real time with the simulated CPU interface
// manager, serving metrics on `address`; the URL it says it serves.
struct ServingHost {
  ServingHost(HostTest::TempDir const& dir, std::string const& address)
      : process(dir, {"--sim-cpu", "--no-control", "--metrics", address, kAppliance}),
        url(process.metricsUrl()) {}
  ~ServingHost() {
    process.signal(SIGTERM);
    process.wait();
  }
  // One scrape that must be whole within a second.
  bool scraped(std::string* body = nullptr) const {
    return Host::runProgram({"curl", "-sfg", "--max-time", "1", url}, body) == 0;
  }
  HostTest::HostProcess process;
  std::string url;
};

// A connection to the host's port on the IPv6 loopback.
int connectedTo(std::string const& url) {
  auto const colon = url.rfind(':');
  auto const port = static_cast<std::uint16_t>(std::stoi(url.substr(colon + 1)));
  int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_port = htons(port);
  a.sin6_addr = in6addr_loopback;
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  return fd;
}

// Whether the peer closes the connection within `ms`.
bool closedWithin(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  char c;
  while (::poll(&p, 1, ms) == 1) {
    if (::recv(fd, &c, 1, 0) <= 0)
      return true;
  }
  return false;
}

// The answer to one request sent whole, read until the host closes (at most
// a second: a request it takes for unfinished waits for its timeout).
std::string answerTo(std::string const& url, std::string const& request) {
  int fd = connectedTo(url);
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string got;
  pollfd p{fd, POLLIN, 0};
  char buf[4096];
  for (ssize_t n; ::poll(&p, 1, 1000) == 1 && (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
    got.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  return got;
}

// A host on the IPv6 loopback answers requests as other clients send them
// (an absolute-form target, bare LF line ends, a method other than GET), and
// goes on answering scrapes while idle and slow clients hold connections.
TEST(MetricsEndpoint, ServesOverIPv6WhileIdleAndSlowClientsHoldConnections) {
  HostTest::TempDir dir;
  ServingHost host(dir, "[::1]:0");
  ASSERT_EQ(host.url.rfind("http://[::1]:", 0), 0u) << host.process.out() << host.process.err();
  auto const ok = "HTTP/1.1 200 OK\r\n";
  auto got = answerTo(host.url, "GET " + host.url + " HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(got.rfind(ok, 0), 0u) << got;
  EXPECT_NE(got.find("\nagenthost_build_info{version=\""), std::string::npos) << got;
  got = answerTo(host.url, "GET /metrics HTTP/1.1\nHost: x\n\n");
  EXPECT_EQ(got.rfind(ok, 0), 0u) << got;
  got = answerTo(host.url, "GET http://127.0.0.1/other HTTP/1.1\r\n\r\n");
  EXPECT_EQ(got.rfind("HTTP/1.1 404 ", 0), 0u) << got;
  got = answerTo(host.url, "POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(got.rfind("HTTP/1.1 405 ", 0), 0u) << got;
  EXPECT_NE(got.find("\r\nAllow: GET, HEAD\r\n"), std::string::npos) << got;

  // Three clients that connect and say nothing, three that send a request
  // one byte a second.
  std::vector<int> idle, slow;
  for (int i = 0; i < 3; ++i) {
    idle.push_back(connectedTo(host.url));
    slow.push_back(connectedTo(host.url));
  }
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  std::thread trickle([&] {
    std::string const request = "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n";
    std::unique_lock lock(m);
    for (std::size_t i = 0; i < request.size() && !done; ++i) {
      for (int fd : slow)
        ::send(fd, &request[i], 1, MSG_NOSIGNAL);
      cv.wait_for(lock, std::chrono::seconds(1), [&] { return done; });
    }
  });
  // Scrapes while they hold their connections, until the idle ones have
  // been dropped for taking too long to send a request.
  std::vector<bool> dropped(idle.size());
  int scrapes = 0;
  for (; scrapes < 60 && std::count(dropped.begin(), dropped.end(), true) < 3; ++scrapes) {
    std::string body;
    EXPECT_TRUE(host.scraped(&body)) << "scrape " << scrapes;
    EXPECT_NE(body.find("\nagenthost_poll_cycles_completed_total "), std::string::npos) << body;
    for (std::size_t i = 0; i < idle.size(); ++i)
      dropped[i] = dropped[i] || closedWithin(idle[i], 100);
  }
  EXPECT_EQ(std::count(dropped.begin(), dropped.end(), true), 3) << scrapes << " scrapes";
  EXPECT_GE(scrapes, 3);
  {
    std::lock_guard lock(m);
    done = true;
  }
  cv.notify_all();
  trickle.join();
  for (int fd : slow)
    EXPECT_TRUE(closedWithin(fd, 10000));
  for (int fd : idle)
    ::close(fd);
  for (int fd : slow)
    ::close(fd);
}

TEST(MetricsEndpoint, AnAddressThatCannotBeHadIsRefusedWithTheKernelsReason) {
  HostTest::TempDir dir;
  // A port this test listens on.
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), len), 0);
  ASSERT_EQ(::listen(fd, 1), 0);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  std::string const port = std::to_string(ntohs(a.sin_port));

  struct Case {
    std::string address, why;
  } const cases[] = {
      {"127.0.0.1:" + port, "Address already in use. Check: another program listens on port " +
                                port + " (ss -ltnp 'sport = :" + port + "')"},
      // An address of the documentation range, never this machine's.
      {"192.0.2.1:" + port,
       "Cannot assign requested address. Check: 192.0.2.1 is not an "
       "address of this machine"},
  };
  for (auto const& c : cases) {
    HostTest::HostProcess h(dir, {"--sim-cpu", "--no-control", "--metrics", c.address, kAppliance});
    EXPECT_EQ(h.wait(), 3) << h.out() << h.err();
    EXPECT_NE(h.err().find("agenthost: cannot serve metrics on " + c.address + ": " + c.why),
              std::string::npos)
        << h.err();
  }
  ::close(fd);
}

}  // namespace
