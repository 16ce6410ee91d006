#include "platform/kiv/Errors.h"

namespace Kiv {

NullArgumentException::NullArgumentException(std::string const& argument, std::string const& type,
                                             std::string const& attribute)
    : MutatorException("null argument '" + argument + "' for attribute " + attribute + " of " +
                       type),
      argument(argument),
      type(type),
      attribute(attribute) {}

ReinstantiationException::ReinstantiationException(std::string const& type,
                                                   std::string const& attribute,
                                                   std::string const& oldValue,
                                                   std::string const& newValue)
    : MutatorException("re-instantiation of " + type + " with a different " + attribute +
                       ": existing " + oldValue + ", requested " + newValue),
      type(type),
      attribute(attribute),
      oldValue(oldValue),
      newValue(newValue) {}

UnexpectedArgumentsException::UnexpectedArgumentsException(std::string const& type,
                                                           std::size_t given, std::size_t expected,
                                                           std::string const& attribute)
    : MutatorException("unexpected creation arguments for " + type +
                       (attribute.empty() ? "" : " in " + attribute) + ": " +
                       std::to_string(given) + " given, " + std::to_string(expected) + " taken"),
      type(type),
      attribute(attribute),
      given(given),
      expected(expected) {}

void throwMutatorNullArgument(std::string const& argument, std::string const& type,
                              std::string const& attribute) {
  throw NullArgumentException(argument, type, attribute);
}

void throwMutatorReinstantiating(std::string const& type, std::string const& attribute,
                                 std::string const& oldValue, std::string const& newValue) {
  throw ReinstantiationException(type, attribute, oldValue, newValue);
}

void throwMutatorUnexpectedArguments(std::string const& type, std::size_t given,
                                     std::size_t expected, std::string const& attribute) {
  throw UnexpectedArgumentsException(type, given, expected, attribute);
}

}  // namespace Kiv
