#include "platform/orba/Node.h"

namespace Orba {

namespace {
std::int64_t liveNodes = 0;
}

Node::Node() noexcept {
  ++liveNodes;
}
Node::~Node() {
  --liveNodes;
}
void Node::lastUserGone() {
  delete this;
}
Kiv::TypeDesc const* Node::typeData() const {
  return nullptr;
}
Publisher* Node::publisher() const {
  return nullptr;
}
std::int64_t Node::liveCount() noexcept {
  return liveNodes;
}

}  // namespace Orba
