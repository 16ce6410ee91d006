#include "tests/host/HostTestSupport.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "host/os/Command.h"
#include "tests/support/Emulation.h"

namespace HostTest {

Host::ApplianceDesc twoInterfaces() {
  Host::ApplianceDesc a;
  a.file = "test";
  a.mgmtInterfaces = {{"Management1", "mgmt1", 1, 5}, {"Management2", "", 2, 6}};
  a.slices = {{"slice1",
               {{"Management1", Interface::IntfEnabledState::enabled},
                {"Management2", Interface::IntfEnabledState::disabled}}}};
  a.links = {{1, true}};
  return a;
}

std::string exampleAppliance() {
  return readFile(std::string(EXAMPLES_DIR) + "/appliance.yaml");
}

std::size_t occurrences(std::string const& text, std::string const& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

std::string ipLink(std::string const& ns, std::string const& dev) {
  std::string out;
  Host::runProgram({"ip", "-n", ns, "-d", "link", "show", "dev", dev}, &out);
  return out;
}

CtlRun agentctl(std::string const& socket, std::vector<std::string> args) {
  args.insert(args.begin(), {AGENTCTL_BIN, "--socket", socket});
  CtlRun r;
  r.status = Host::runProgram(TestSupport::underEmulator(std::move(args)), &r.out);
  return r;
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "agenthost-test-XXXXXX").string();
  if (!::mkdtemp(tmpl.data()))
    throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::file(std::string const& name, std::string const& content) const {
  std::string p = path_ + "/" + name;
  std::ofstream(p) << content;
  return p;
}

std::string compactJson(std::string const& path) {
  auto j = nlohmann::ordered_json::parse(readFile(path), nullptr, false);
  return j.is_discarded() ? "" : j.dump();
}

std::string readFile(std::string const& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string refusalOf(TempDir const& dir, std::string const& text,
                      std::function<void(std::string const& path)> const& load) {
  auto path = dir.file("input.yaml", text);
  try {
    load(path);
  } catch (Host::InputError const& e) {
    std::string msg = e.what();
    EXPECT_EQ(msg.rfind(path, 0), 0u) << msg;
    return msg.substr(path.size());
  }
  ADD_FAILURE() << "accepted:\n" << text;
  return {};
}

bool until(std::function<bool()> const& pred, double seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

NotifySocket::NotifySocket(TempDir const& dir) : path_(dir.path() + "/notify") {
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (fd_ < 0 || path_.size() >= sizeof addr.sun_path)
    throw std::runtime_error("notify socket: " + path_);
  path_.copy(addr.sun_path, path_.size());
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error("cannot bind " + path_);
}

NotifySocket::~NotifySocket() {
  ::close(fd_);
}

std::vector<std::string> NotifySocket::receive() {
  std::vector<std::string> r;
  char buf[4096];
  for (ssize_t n; (n = ::recv(fd_, buf, sizeof buf, 0)) >= 0;)
    r.emplace_back(buf, static_cast<std::size_t>(n));
  return r;
}

ScopedEnv::ScopedEnv(char const* name, std::string const& value) : name_(name) {
  ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  ::unsetenv(name_.c_str());
}

HostProcess::HostProcess(TempDir const& dir, std::vector<std::string> args,
                         std::function<void()> const& inChild)
    : out_(dir.path() + "/stdout"), err_(dir.path() + "/stderr") {
  args.insert(args.begin(), AGENTHOST_BIN);
  args = TestSupport::underEmulator(std::move(args));
  pid_ = ::fork();
  if (pid_ == 0) {
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (inChild)
      inChild();
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
}

HostProcess::~HostProcess() {
  if (pid_ > 0 && !exited_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

int HostProcess::wait(double seconds) {
  int status = 0;
  bool done = until([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, seconds);
  if (!done)
    return -1;
  exited_ = true;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string HostProcess::metricsUrl(double seconds) const {
  std::string url;
  until(
      [&] {
        auto const text = out(), said = std::string("metrics: ");
        auto const at = text.find(said + "http://"), end = text.find('\n', at);
        if (at != std::string::npos && end != std::string::npos)
          url = text.substr(at + said.size(), end - at - said.size());
        return !url.empty();
      },
      seconds);
  return url;
}

void HostProcess::signal(int sig) {
  ::kill(pid_, sig);
}

}  // namespace HostTest
