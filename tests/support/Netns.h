#pragma once

#include <string>

namespace TestSupport {

// A private network namespace for one test, made with iproute2 and entered by
// the calling thread; the thread returns to its own namespace and the
// namespace is deleted when the object goes, whatever the test's outcome.
// Nothing here touches the host's own namespace.
class NetNamespace {
 public:
  NetNamespace();
  ~NetNamespace();
  NetNamespace(NetNamespace const&) = delete;
  NetNamespace& operator=(NetNamespace const&) = delete;

  std::string const& name() const { return name_; }
  // Runs "ip -n NAME ARGS" and returns its standard output; throws
  // std::runtime_error with the command and its output when it fails.
  std::string ip(std::string const& args) const;
  // Whether "ip -d link show DEV" in the namespace shows protodown on.
  bool protodown(std::string const& dev) const;

  // Whether namespaces can be made here; why not, when not.
  static bool available(std::string* why);

 private:
  std::string name_;
  int ownNs_ = -1;
};

// Runs a shell command, returning its exit status and combined output.
int runCommand(std::string const& cmd, std::string* output);

}  // namespace TestSupport

// Skips a test that needs a network namespace when none can be made here, or
// fails it when REQUIRE_NETNS_TESTS=1 says that such tests must run.
#define REQUIRE_NETNS()                                                          \
  do {                                                                           \
    std::string whyNot_;                                                         \
    if (!::TestSupport::NetNamespace::available(&whyNot_)) {                     \
      char const* req_ = std::getenv("REQUIRE_NETNS_TESTS");                     \
      if (req_ && std::string(req_) == "1") {                                    \
        FAIL() << "REQUIRE_NETNS_TESTS=1 but no network namespace: " << whyNot_; \
      }                                                                          \
      GTEST_SKIP() << "no network namespace: " << whyNot_;                       \
    }                                                                            \
  } while (0)
