#include "Bcm53X/Bcm53134Agent/RegisterVal.h"

namespace Bcm53134::Agent {

Orba::Ptr<RegisterVal> RegisterVal::RegisterValIs(RegisterId const& id, U32 dataSize,
                                                  U32 validityCheckVal, U32 validityCheckMask) {
  return Orba::Ptr<RegisterVal>::adopt(
      new RegisterVal(id, dataSize, validityCheckVal, validityCheckMask));
}

}  // namespace Bcm53134::Agent
