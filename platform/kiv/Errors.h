#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

// The framework's mutator exceptions. Each names the argument or attribute
// and the type concerned.
namespace Kiv {

class MutatorException : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// An empty handle where an object is required.
class NullArgumentException : public MutatorException {
 public:
  NullArgumentException(std::string const& argument, std::string const& type,
                        std::string const& attribute);
  std::string argument, type, attribute;
};

// A member re-instantiated under an existing key with different creation
// arguments.
class ReinstantiationException : public MutatorException {
 public:
  ReinstantiationException(std::string const& type, std::string const& attribute,
                           std::string const& oldValue, std::string const& newValue);
  std::string type, attribute, oldValue, newValue;
};

// Creation arguments that the type does not take; attribute is the
// instantiating attribute the creation went through, when there is one.
class UnexpectedArgumentsException : public MutatorException {
 public:
  UnexpectedArgumentsException(std::string const& type, std::size_t given, std::size_t expected,
                               std::string const& attribute = {});
  std::string type, attribute;
  std::size_t given, expected;
};

[[noreturn]] void throwMutatorNullArgument(std::string const& argument, std::string const& type,
                                           std::string const& attribute);
[[noreturn]] void throwMutatorReinstantiating(std::string const& type, std::string const& attribute,
                                              std::string const& oldValue,
                                              std::string const& newValue);
[[noreturn]] void throwMutatorUnexpectedArguments(std::string const& type, std::size_t given,
                                                  std::size_t expected,
                                                  std::string const& attribute = {});

}  // namespace Kiv
