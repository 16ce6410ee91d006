#include "host/os/AgentLibrary.h"

#include "host/os/HostLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <stdexcept>

namespace Host {

namespace {

bool exists(std::string const& path) {
  return ::access(path.c_str(), R_OK) == 0;
}

}  // namespace

Orba::Ptr<AgentBase::CAgent> AgentLibrary::rootIs(std::string const& rootName) const {
  auto root = Orba::Ptr<AgentBase::CAgent>::adopt(factory(rootName.c_str()));
  if (!root)
    throw std::runtime_error(path + ": " + AgentBase::kAgentRootFactorySymbol + " returned none");
  return root;
}

AgentLibrary loadAgentLibrary(std::string const& name, std::string const& libDir) {
  if (name.empty())
    throw std::runtime_error("no agent name given");
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-')
      throw std::runtime_error("'" + name + "' is not an agent name (letters, digits, _ and -)");
  }
  std::string file = "lib" + name + ".so";
  AgentLibrary lib;
  lib.name = name;
  if (!libDir.empty()) {
    lib.path = libDir + "/" + file;
  } else {
    lib.path = file;
    for (auto const& dir : hostLibraryDirs()) {
      if (exists(dir + "/" + file)) {
        lib.path = dir + "/" + file;
        break;
      }
    }
  }
  ::dlerror();
  void* handle = ::dlopen(lib.path.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (!handle) {
    char const* e = ::dlerror();
    throw std::runtime_error("cannot load agent " + name + ": " + (e ? e : lib.path));
  }
  void* sym = ::dlsym(handle, AgentBase::kAgentRootFactorySymbol);
  if (!sym) {
    throw std::runtime_error(lib.path + " has no entry point " +
                             AgentBase::kAgentRootFactorySymbol + "; is it an agent library?");
  }
  lib.factory = reinterpret_cast<AgentBase::AgentRootFactory>(sym);
  return lib;
}

}  // namespace Host
