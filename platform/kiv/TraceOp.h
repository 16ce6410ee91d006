#pragma once

#include <string_view>

#include "platform/kiv/Trace.h"

namespace Kiv {

// The opening of an object's trace line, "ADDRESS::operation":
//   KIV_TRACE(th, 1) << Kiv::traceOp(this, "start") << ": state " << state_;
struct TraceOp {
  void const* object;
  std::string_view operation;
};

inline TraceOp traceOp(void const* object, std::string_view operation) noexcept {
  return {object, operation};
}

// KIV_TRACE opens its line with a temporary helper, hence the first form.
inline TraceHelper& operator<<(TraceHelper&& line, TraceOp op) {
  return line << op.object << "::" << op.operation;
}
inline TraceHelper& operator<<(TraceHelper& line, TraceOp op) {
  return line << op.object << "::" << op.operation;
}

}  // namespace Kiv
