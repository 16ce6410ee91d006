// The poll cycle: the wake-up handler, register transactions with their
// results, and the read and write steps that reconcile the managed registers
// with their configured values.
#include "Bcm53X/Bcm53134Agent/AgentTrace.h"
#include "Bcm53X/Bcm53134Agent/Bcm53134Sm.h"
#include "platform/kiv/TraceOp.h"

namespace Bcm53134::Agent {

namespace {

using Request = MdioRegLib::Request;

// How long a transaction may stay outstanding, in poll periods, before the
// machine gives up on its result.
constexpr double kTransactionWatchdogPeriods = 3;

}  // namespace

void Bcm53134Sm::doPoll() {
  KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "doPoll");
  if (transactionOverdue()) {
    failOverdueTransaction();
    return;
  }
  if (!hamPresent()) {
    KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "doPoll") << ": ham not yet available";
    armPoll(Kiv::System::currentTime() + pollPeriod_);
    return;
  }
  if (!registerSm_) {
    initialize();
  } else if (!registerConfig_ || !registerStatus_) {
    // Deleted through the attribute interface: the read and write steps
    // need both queues, so the register service is built again over them.
    KIV_TRACE(trace(), 0) << Kiv::traceOp(this, "doPoll")
                          << ": register request or result queue missing; rebuilding the "
                             "register state machine";
    createRegisterSm();
  }
  switch (state_) {
    case State::readingRegVals:
      readRegVals();
      break;
    case State::writingRegVals:
      writeRegVals();
      break;
    case State::idle:
      start();
      break;
  }
}

// Transactions

void Bcm53134Sm::readRegister(RegisterVal const& record) {
  Request r;
  r.value = 0;
  r.xid = nextXid();
  r.page = record.id().page();
  r.addr = record.id().addr();
  r.op = Request::read;
  r.size = static_cast<U8>(record.dataSize() & 0xff);
  KIV_TRACE_OP(trace(), 1, "readRegVals")
      << Kiv::traceOp(this, "readRegVals") << ": XID " << r.xid << ": reading register page 0x"
      << r.page << " addr 0x" << r.addr;
  registerConfig_->requestEnq(r);
  currentRegId_ = record.id();
  transactionIssued(r.xid);
}

void Bcm53134Sm::writeRegister(RegisterId const& id, U32 value, U8 size) {
  auto record = registerVal(id);
  if (!record)
    return;  // only registers taken from the collection are written
  record->validIs(false);
  Request r;
  r.value = value;
  r.xid = nextXid();
  r.page = id.page();
  r.addr = id.addr();
  r.op = Request::write;
  r.size = size;
  KIV_TRACE(trace(), 1) << Kiv::traceOp(this, "writeRegister") << ": XID " << r.xid
                        << ": writing register page 0x" << r.page << " addr 0x" << r.addr
                        << " val 0x" << value;
  registerConfig_->requestEnq(r);
  currentRegId_ = id;
  transactionIssued(r.xid);
}

// The poll clock doubles as the watchdog of the outstanding transaction:
// armed for its deadline here, it is re-armed by the result's handling long
// before then. A result that can never match (the xid was rewritten, the
// register service was deleted) leaves the deadline armed, and the poll at
// the deadline fails the transaction.
void Bcm53134Sm::transactionIssued(U32 xid) {
  outstandingXid_ = xid;
  transactionDeadline_ = Kiv::System::currentTime() + kTransactionWatchdogPeriods * pollPeriod_;
  armPoll(transactionDeadline_);
}

bool Bcm53134Sm::transactionOverdue() const {
  return outstandingXid_ && Kiv::System::currentTime() >= transactionDeadline_;
}

void Bcm53134Sm::failOverdueTransaction() {
  auto const xid = *outstandingXid_;
  bool const wasIdle = state_ == State::idle;
  failTransaction("doPoll",
                  Kiv::_fmt("XID %u: Poll error in state %s: no result within %g s", xid,
                            stringValue(state_), kTransactionWatchdogPeriods * pollPeriod_));
  // Already idle (the cycle was abandoned meanwhile): the next cycle still
  // has to be scheduled.
  if (wasIdle)
    handleState();
}

void Bcm53134Sm::registerStatusDispatch(Kiv::AttributeId id, void const*) {
  if (zombie() || id != MdioRegLib::Status::resultAttrId())
    return;
  handleRegisterResult();
}

// A result whose xid is not the current xid is stale: a configuration change
// restarted the cycle and a newer request went out before it arrived. It is
// dropped and never applied. A queue that held only stale results does not
// re-arm the poll: the outstanding transaction's own result will, and
// re-arming here would issue a new read for every stale answer.
void Bcm53134Sm::handleRegisterResult() {
  KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "handleRegisterResult") << ": state "
                        << stringValue(state_);
  bool sawResult = false, sawCurrent = false;
  while (registerStatus_ && registerStatus_->resultHas()) {
    auto const result = registerStatus_->resultDeq();
    sawResult = true;
    KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "handleRegisterResult") << ": xid " << result.xid
                          << ": handling register result";
    if (result.xid != xid_) {
      KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "handleRegisterResult") << ": xid " << result.xid
                            << ": dropping stale result, current xid " << xid_;
      continue;
    }
    sawCurrent = true;
    if (outstandingXid_ == result.xid)
      outstandingXid_.reset();
    if (!result.error.empty()) {
      failTransaction("handleRegisterResult",
                      Kiv::_fmt("XID %u: Poll error in state %s: %s", result.xid,
                                stringValue(state_), result.error.c_str()));
      return;
    }
    auto record = registerVal(currentRegId_);
    if (!record)
      continue;
    KIV_TRACE(trace(), 1) << Kiv::traceOp(this, "handleRegisterResult") << ": xid " << result.xid
                          << ": handling register result for page 0x" << currentRegId_.page()
                          << " addr 0x" << currentRegId_.addr() << " response " << result.value;
    auto const v = static_cast<U32>(result.value);
    if (!record->isValidValue(v)) {
      failTransaction("handleRegisterResult",
                      Kiv::_fmt("Read value 0x%x for register 0x%x/0x%x is not valid", v,
                                record->id().page(), record->id().addr()));
      return;
    }
    if (!record->valid()) {
      KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "handleRegisterResult")
                            << ": updating register value";
      record->valIs(state_ == State::readingRegVals ? v : record->configVal());
      record->validIs(true);
    }
  }
  if (!sawResult || sawCurrent)
    handleState();
}

void Bcm53134Sm::failTransaction(char const* operation, std::string const& message) {
  KIV_TRACE_OP(trace(), 0, operation) << Kiv::traceOp(this, operation) << ": " << message;
  outstandingXid_.reset();
  if (status_)
    status_->errorIs(message);
  repollingNeeded_ = true;
  if (state_ != State::idle) {
    state_ = State::idle;
    handleState();
  }
}

// Reconciliation

void Bcm53134Sm::createRegVals() {
  KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "createRegVals")
                        << ": creating register definitions for " << config_->mgmtInterfaceCount()
                        << " management interfaces";
  for (auto const& [key, intf] : config_->mgmtInterfaces()) {
    for (PortId port : {intf->externalPort(), intf->internalPort()}) {
      RegisterId const ext(RegisterVal::extendedControlPageBase + port,
                           RegisterVal::extendedControlReg);
      RegisterId const aux(RegisterVal::extendedControlPageBase + port, RegisterVal::auxCtrlReg);
      // A record already there is kept as it is, even one instantiated
      // through the attribute interface with other creation arguments:
      // re-instantiating it would be refused.
      if (!registerVal(ext)) {
        registerValIs(ext, RegisterVal::extendedControlRegSize,
                      RegisterVal::extendedControlValidVal, RegisterVal::extendedControlValidMask);
      }
      if (!registerVal(aux)) {
        registerValIs(aux, RegisterVal::auxCtrlRegSize, RegisterVal::auxCtrlRegValidVal,
                      RegisterVal::auxCtrlRegValidMask);
      }
    }
  }
}

// A management interface added to the config while records exist gets its
// records here, before the read step looks for unknown registers, so they
// are read in this cycle and link processing never meets a missing record.
void Bcm53134Sm::createMissingRegVals() {
  for (auto const& [key, intf] : config_->mgmtInterfaces()) {
    for (PortId port : {intf->externalPort(), intf->internalPort()}) {
      auto const page = RegisterVal::extendedControlPageBase + port;
      if (registerVal(RegisterId(page, RegisterVal::extendedControlReg)) &&
          registerVal(RegisterId(page, RegisterVal::auxCtrlReg))) {
        continue;
      }
      KIV_TRACE_OP(trace(), 8, "readRegVals")
          << Kiv::traceOp(this, "readRegVals")
          << ": creating missing register definitions for interface " << intf->intfId();
      createRegVals();
      return;
    }
  }
}

void Bcm53134Sm::readRegVals() {
  KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "readRegVals");
  auto const count = config_->mgmtInterfaceCount();
  if (count == 0) {
    KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "readRegVals")
                          << ": no management interface config defined";
    if (state_ != State::idle) {
      state_ = State::idle;
      handleState();
    }
    return;
  }
  if (registerVal_.empty()) {
    createRegVals();
  } else {
    createMissingRegVals();
  }
  for (auto const& [id, record] : registerVal_) {
    if (!record->valid()) {
      readRegister(*record);
      return;
    }
  }
  KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "readRegVals") << ": all registers are available for "
                        << count << " management interfaces. Updating status.";
  // Without a status entity there is nowhere to publish link statuses, and
  // link processing acts on the published ones: both are skipped, while the
  // registers are still read, checked and written. Said once per machine.
  if (status_) {
    status_->errorIs("");
    readLinkStatuses();
    processLinkStatuses();
  } else if (!noStatusTraced_) {
    noStatusTraced_ = true;
    KIV_TRACE(trace(), 0) << Kiv::traceOp(this, "readRegVals")
                          << ": no hardware status entity: link statuses are neither published "
                             "nor processed";
  }
  for (auto const& [key, intf] : config_->mgmtInterfaces()) {
    checkAuxCtrlReg(intf->externalPort(), intf->intfId(), "external");
    checkAuxCtrlReg(intf->internalPort(), intf->intfId(), "internal");
  }
  if (state_ != State::writingRegVals) {
    state_ = State::writingRegVals;
    handleState();
  }
}

void Bcm53134Sm::writeRegVals() {
  for (auto const& [id, record] : registerVal_) {
    if (!record->configValid() || record->val() == record->configVal())
      continue;
    KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "writeRegVals") << ": register " << id << ": val 0x"
                          << record->val() << " does not match "
                          << "config val 0x" << record->configVal() << ", configuring now";
    writeRegister(id, record->configVal(), static_cast<U8>(record->dataSize() & 0xff));
    repollingNeeded_ = true;
    return;
  }
  KIV_TRACE(trace(), 8) << Kiv::traceOp(this, "writeRegVals")
                        << ": all registers are at configured values for "
                        << (config_ ? config_->mgmtInterfaceCount() : 0)
                        << " management interfaces.";
  if (state_ != State::idle) {
    state_ = State::idle;
    handleState();
  }
}

}  // namespace Bcm53134::Agent
