#include "host/os/HostLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <stdexcept>

namespace Host {

namespace {

// The directory the host's executable is in, or empty.
std::string hostBinDir() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0)
    return {};
  std::string exe(buf, static_cast<std::size_t>(n));
  auto slash = exe.rfind('/');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

}  // namespace

std::vector<std::string> hostLibraryDirs() {
  auto bin = hostBinDir();
  if (bin.empty())
    return {};
  return {bin + "/../lib", bin + "/" + AGENTHOST_INSTALLED_AGENT_DIR};
}

void* hostLibraryEntry(std::string const& file, char const* symbol, std::string const& purpose) {
  std::string const failed = "cannot load " + purpose + ": ";
  std::string path, looked;
  for (auto const& dir : hostLibraryDirs()) {
    if (::access((dir + "/" + file).c_str(), F_OK) == 0) {
      path = dir + "/" + file;
      break;
    }
    looked += (looked.empty() ? "" : " or ") + dir;
  }
  if (path.empty())
    throw std::runtime_error(failed + file + " is not in " + (looked.empty() ? "?" : looked));
  ::dlerror();
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    char const* e = ::dlerror();
    throw std::runtime_error(failed + (e ? e : path));
  }
  void* entry = ::dlsym(handle, symbol);
  if (!entry)
    throw std::runtime_error(failed + path + " has no entry point " + symbol);
  return entry;
}

}  // namespace Host
