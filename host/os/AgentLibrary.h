// The operating system: the agent library, the private namespace, programs, the service manager
#pragma once

#include <string>

#include "platform/agent/CAgent.h"

namespace Host {

// An agent library loaded by name: agent NAME lives in libNAME.so, which
// exports the C entry point AgentBase::kAgentRootFactorySymbol. Loading it
// registers its type modules. Libraries are never unloaded: the types they
// registered stay in use until the process ends.
struct AgentLibrary {
  std::string name;
  std::string path;  // what was handed to the dynamic loader
  AgentBase::AgentRootFactory factory = nullptr;

  // Creates the agent's root; throws std::runtime_error when the factory
  // returns none.
  Orba::Ptr<AgentBase::CAgent> rootIs(std::string const& rootName) const;
};

// Looks for libNAME.so in libDir when one is given, else beside the host
// (../lib from the executable in a build; the private library directory,
// e.g. ../lib/x86_64-linux-gnu/agenthost, when installed), else where the
// dynamic loader looks. Throws
// std::runtime_error with the loader's message when it cannot be loaded or
// lacks the entry point.
AgentLibrary loadAgentLibrary(std::string const& name, std::string const& libDir = "");

}  // namespace Host
