// agentctl: looks at and changes a running agent through agenthost's control
// socket. `agentctl help` lists the commands.

#include <iostream>

#include "host/control/ctl/Client.h"

int main(int argc, char** argv) {
  return Host::Ctl::run(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr,
                        Host::Ctl::addJournalLines);
}
