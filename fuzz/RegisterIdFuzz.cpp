// Fuzz target: the text form of a register identity, as a user types it into
// the generic attribute interface. Malformed text must be refused with the
// framework's attribute error, never with a crash or another exception; text
// that is accepted must print back to a text that parses to the same value.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "Bcm53X/Bcm53134Agent/RegisterId.h"
#include "platform/kiv/Type.h"

using Bcm53134::Agent::RegisterId;

namespace {

void check(bool ok) {
  if (!ok)
    std::abort();
}

void roundTrip(RegisterId const& id) {
  std::ostringstream os;
  os << id;
  check(RegisterId::parse(os.str()) == id);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  std::string const text(reinterpret_cast<char const*>(data), size);

  // The whole string.
  try {
    roundTrip(RegisterId::parse(text));
  } catch (Kiv::AttributeError const&) {
  }

  // The front of a range: what is consumed is a prefix, and the rest is left.
  std::string_view range = text;
  try {
    RegisterId const id(range);
    check(range.data() >= text.data() && range.data() + range.size() == text.data() + text.size());
    roundTrip(id);
  } catch (Kiv::AttributeError const&) {
  }

  // The generic attribute interface's parser and printer.
  try {
    auto const v = Kiv::parseValue(&Kiv::TypeOf<RegisterId>::desc(), text);
    check(Kiv::parseValue(v.type(), v.text()) == v);
  } catch (Kiv::AttributeError const&) {
  }
  return 0;
}
