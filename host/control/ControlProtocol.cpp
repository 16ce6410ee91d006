#include "host/control/ControlProtocol.h"

#include <unistd.h>

#include <cstdlib>

#include <nlohmann/json.hpp>

namespace Host::Control {

std::string jsonText(nlohmann::ordered_json const& j, int indent) {
  return j.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string defaultSocketPath() {
  if (::geteuid() == 0)
    return kServiceSocketPath;
  if (char const* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && xdg[0] == '/')
    return std::string(xdg) + "/agenthost/control.sock";
  return "/tmp/agenthost-" + std::to_string(::geteuid()) + "/control.sock";
}

std::string commandSummary() {
  return R"(  show status [INTERFACE]         the error text and one line per management interface: ports,
                                  link, last down and up, transitions, CPU netdevice with the
                                  agent's and the kernel's protodown, reason bits, restores; an
                                  INTERFACE named adds its recent journal lines (under the journal)
  show agent                      the state machine: state, xid, repollingNeeded, pollPeriod,
                                  the next poll's time, register records, intfState, the CPU
                                  interface manager
  get PATH ATTRIBUTE              read an attribute (ATTRIBUTE[KEY]: one member of a collection)
  set PATH ATTRIBUTE VALUE        write an attribute, VALUE in the text form of its type
  call PATH OPERATION [ARGS...]   call an operation
  list [PATH]                     the attributes of an object, or the members of a collection
  trace [FACILITY LEVELS]         show or change trace levels: trace Bcm53134Agent 0,1,8
  sim link PORT up|down|flap      the simulated chip's link partner on a port (0 to 7)
  sim reg PAGE ADDR VALUE         set a chip register behind the agent's back: page 0x10 + port
  sim readValue PAGE ADDR VALUE   the next read of that register returns VALUE
  sim fail COUNT TEXT             the next COUNT register accesses fail with TEXT
  sim miiReadFail PORT true|false MII status reads of the port fail, or work again
  sim clearCounters               the chip's access counters back to zero
  reload                          read the appliance file again and apply it, as SIGHUP does;
                                  answers the outcome, refused (status 1) when nothing was applied
  record start FILE [LIMIT]       write every MDIO bus access to FILE, a bus record (LIMIT:
                                  its size limit, e.g. 4M)
  record stop                     end the record
  record                          whether a record is being written, and where
  hold NETDEV DURATION|off        keep the host from restoring a CPU netdevice's protodown for
                                  DURATION (90s, 10m, 2h; at most a week), or end the hold

  PATH names an object from the agent's root: . (the root), bcm53134Sm (the state machine),
  bcm53134Sm.cpuIfMgr.cpuInterface[mgmt1] (a CPU interface),
  'bcm53134Sm.registerVal[Bcm53134::Agent::RegisterId(page=0x11, addr=0x20)]' (a register
  record). get and set also take PATH.ATTRIBUTE as one word. In list, access is r (read),
  w (write or insert) and x (call).
)";
}

}  // namespace Host::Control
