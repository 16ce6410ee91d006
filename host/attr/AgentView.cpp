#include "host/attr/AgentView.h"

#include "platform/kiv/ValueText.h"

namespace Host {

namespace {

Orba::Node* handleIn(Kiv::Value const& v) {
  auto const* p = std::any_cast<Orba::Ptr<Orba::Node>>(&v.raw());
  return p ? p->get() : nullptr;
}

}  // namespace

Kiv::AttrDesc const* AgentView::CachedAttr::of(Orba::Node const& n, std::string_view attrName) {
  if (n.typeData() != type) {
    type = n.typeData();
    attr = type ? type->attr(attrName) : nullptr;
  }
  return attr;
}

void AgentView::rootIs(Orba::Node* root) {
  root_ = root;
  sm_ = mgr_ = Kiv::Value();
}

Orba::Node* AgentView::stateMachine() {
  auto const* a = root_ ? smAttr_.of(*root_, "bcm53134Sm") : nullptr;
  sm_ = a && a->get ? a->get(*root_) : Kiv::Value();
  return handleIn(sm_);
}

std::optional<bool> AgentView::idle(Orba::Node& sm) {
  auto const* a = stateAttr_.of(sm, "state");
  if (!a || !a->get || !a->type)
    return std::nullopt;
  if (a->type != stateType_) {
    stateType_ = a->type;
    idle_ = Kiv::parseValue(stateType_, "idle");
  }
  auto const state = a->get(sm);
  return state.type() == idle_.type() && stateType_->equal(state.raw(), idle_.raw());
}

Orba::Node* AgentView::cpuIfMgr() {
  Orba::Node* sm = stateMachine();
  auto const* a = sm ? mgrAttr_.of(*sm, "cpuIfMgr") : nullptr;
  mgr_ = a && a->get ? a->get(*sm) : Kiv::Value();
  return handleIn(mgr_);
}

std::optional<bool> AgentView::verdict(std::string const& netdev) {
  Orba::Node* mgr = cpuIfMgr();
  if (!mgr)
    return std::nullopt;
  auto const* coll = collection_.of(*mgr, "cpuInterface");
  if (!coll || !coll->lookup)
    return std::nullopt;
  auto key = keys_.find(netdev);
  if (key == keys_.end())
    key = keys_.emplace(netdev, Kiv::Value::of(netdev)).first;
  auto const intfValue = coll->lookup(*mgr, key->second);
  Orba::Node* intf = handleIn(intfValue);
  auto const* a = intf ? intfState_.of(*intf, "state") : nullptr;
  if (!a || !a->get || !a->type)
    return std::nullopt;
  if (a->type != intfStateType_) {
    intfStateType_ = a->type;
    disabled_ = Kiv::parseValue(intfStateType_, "disabled");
    enabled_ = Kiv::parseValue(intfStateType_, "enabled");
  }
  auto const s = a->get(*intf);
  if (intfStateType_->equal(s.raw(), disabled_.raw()))
    return true;
  if (intfStateType_->equal(s.raw(), enabled_.raw()))
    return false;
  return std::nullopt;
}

}  // namespace Host
