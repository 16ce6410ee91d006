// Link status: reading each management interface's external link from its
// PHY, deciding transmitters and CPU interface verdicts from link and
// administrative state, and holding the auxiliary control registers.
#include "Bcm53X/Bcm53134Agent/AgentTrace.h"
#include "Bcm53X/Bcm53134Agent/Bcm53134Sm.h"
#include "Bcm53X/CpuIfMgr/CpuIfMgr.h"
#include "platform/kiv/TraceOp.h"

namespace Bcm53134::Agent {

namespace {
// Re-reads after a first reading without link: the link bit latches a
// failure until it is read, so one later reading with link wins.
constexpr unsigned kLinkRereads = 5;
}  // namespace

void Bcm53134Sm::readLinkStatuses() {
  KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "readLinkStatuses");
  auto const& mii = registerSm_->miiOp();
  for (auto const& [key, intf] : config_->mgmtInterfaces()) {
    auto const port = intf->externalPort();
    U32 value = mii.read(port, miiStatusRegister);
    auto portStatus = status_->portIs(port);
    bool up = (value & miiStatusLinkEstabMask) != 0;
    if (!up) {
      for (unsigned reread = 1; reread <= kLinkRereads; ++reread) {
        value = mii.read(port, miiStatusRegister);
        if (value & miiStatusLinkEstabMask) {
          up = true;
          if (portStatus->linkStatus() == Hardware::Bcm53134::LinkStatus::linkUp) {
            KIV_TRACE(trace(), 0) << Kiv::traceOp(this, "readLinkStatuses")
                                  << ": Ignoring likely invalid link failure status for interface "
                                  << intf->intfId() << " after " << reread << " retries";
          }
          break;
        }
      }
    }
    auto const published =
        up ? Hardware::Bcm53134::LinkStatus::linkUp : Hardware::Bcm53134::LinkStatus::linkDown;
    portStatus->linkStatusIs(published);
    KIV_TRACE(trace(), 1) << Kiv::traceOp(this, "readLinkStatuses") << ": Link status of interface "
                          << intf->intfId() << ": " << published;
  }
  if (state_ != State::readingRegVals) {
    state_ = State::readingRegVals;
    handleState();
  }
}

void Bcm53134Sm::processLinkStatuses() {
  using Interface::IntfEnabledState;
  for (auto const& [key, intf] : config_->mgmtInterfaces()) {
    auto const& id = intf->intfId();
    auto const extPage = RegisterVal::extendedControlPageBase + intf->externalPort();
    auto const intPage = RegisterVal::extendedControlPageBase + intf->internalPort();
    auto ext = registerVal(RegisterId(extPage, RegisterVal::extendedControlReg));
    auto in = registerVal(RegisterId(intPage, RegisterVal::extendedControlReg));
    if (!ext || !in) {
      // Records are created for every interface before link processing;
      // this only guards against acting on a record that does not exist.
      KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "processLinkStatuses") << ": interface " << id
                            << " has no register records yet";
      continue;
    }
    ext->configValIs(RegisterVal::txEnable);
    ext->configValidIs(true);
    in->configValIs(RegisterVal::txEnable);
    in->configValidIs(true);

    auto const s = intfState(id);
    KIV_TRACE(trace(), 1) << Kiv::traceOp(this, "processLinkStatuses") << ": interface " << id
                          << " enabled state: " << Interface::stringValue(s);
    auto const portStatus = status_->port(intf->externalPort());
    auto const link =
        portStatus ? portStatus->linkStatus() : Hardware::Bcm53134::LinkStatus::linkDown;
    auto const& cpuName = intf->cpuIntfName();
    if (s == IntfEnabledState::disabled) {
      ext->configValIs(RegisterVal::txDisable);
      if (cpuName.empty()) {
        in->configValIs(RegisterVal::txDisable);
      } else {
        KIV_TRACE(trace(), 1) << Kiv::traceOp(this, "processLinkStatuses")
                              << ": CPU interface defined: " << cpuName
                              << ": not disabling internal link";
      }
    } else if (link != Hardware::Bcm53134::LinkStatus::linkDown) {
      if (!cpuName.empty() && cpuIfMgr_)
        cpuIfMgr_->enable(cpuName);
    } else if (cpuName.empty()) {
      in->configValIs(RegisterVal::txDisable);
    } else if (cpuIfMgr_) {
      cpuIfMgr_->disable(cpuName);
    }

    KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "processLinkStatuses") << ": interface " << id
                          << " current external control: 0x" << ext->val() << " control config: 0x"
                          << ext->configVal();
    if (ext->val() != ext->configVal()) {
      KIV_TRACE(trace(), 0) << Kiv::traceOp(this, "processLinkStatuses") << ": interface " << id
                            << ", enabled state " << Interface::stringValue(s) << ": writing 0x"
                            << ext->configVal() << " to external extended control register(0x"
                            << ext->id().page() << "/0x" << ext->id().addr()
                            << "). Current value: 0x" << ext->val();
    }
    KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "processLinkStatuses") << ": interface " << id
                          << " current internal control: 0x" << in->val() << " control config: 0x"
                          << in->configVal();
    if (in->val() != in->configVal()) {
      KIV_TRACE(trace(), 0) << Kiv::traceOp(this, "processLinkStatuses") << ": interface " << id
                            << ", link status " << link << ": writing 0x" << in->configVal()
                            << " to internal extended control register(0x" << in->id().page()
                            << "/0x" << in->id().addr() << "). Current value: 0x" << in->val();
    }
  }
}

void Bcm53134Sm::checkAuxCtrlReg(PortId portId, Lanx::IntfId const& intfId,
                                 Orba::String const& desc) {
  auto record = registerVal(
      RegisterId(RegisterVal::extendedControlPageBase + portId, RegisterVal::auxCtrlReg));
  if (!record)
    return;  // never act on a record that does not exist
  record->configValIs(RegisterVal::auxCtrlRegExpVal);
  record->configValidIs(true);
  KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "checkAuxCtrlReg") << ": interface " << intfId
                        << " current " << desc << " aux control: 0x" << record->val()
                        << " expected val: 0x" << RegisterVal::auxCtrlRegExpVal;
  if (record->val() != record->configVal()) {
    KIV_TRACE(trace(), 0) << Kiv::traceOp(this, "checkAuxCtrlReg") << ": interface " << intfId
                          << ", detected a "
                          << "corrupted auxiliary register value of 0x" << record->val()
                          << " on the " << desc << " port. Configuring "
                          << "back to the expected value: 0x" << RegisterVal::auxCtrlRegExpVal;
  }
}

}  // namespace Bcm53134::Agent
