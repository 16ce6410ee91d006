#include "host/show/OutputHealth.h"

namespace Host {

void OutputHealth::failed(std::string const& why) {
  if (failing_)
    return;
  failing_ = true;
  if (report_)
    report_(output_ + " failed: " + why + "; the other outputs go on");
}

void OutputHealth::worked() {
  if (!failing_)
    return;
  failing_ = false;
  if (report_)
    report_(output_ + " works again");
}

}  // namespace Host
