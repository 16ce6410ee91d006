#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/kiv/EventLoop.h"
#include "platform/kiv/Typed.h"
#include "platform/mdio/Accel.h"
#include "platform/orba/Publisher.h"

namespace Bcm53134::MdioRegLib {

// A FIFO that keeps its storage once grown, so that a steady flow of
// requests and results allocates nothing.
template <class T>
class Fifo {
 public:
  bool empty() const noexcept { return count_ == 0; }
  std::size_t size() const noexcept { return count_; }
  void push(T const& v) {
    if (count_ == ring_.size())
      grow();
    ring_[(head_ + count_) % ring_.size()] = v;
    ++count_;
  }
  // The oldest element; a default one when the FIFO is empty.
  T pop() {
    if (count_ == 0)
      return T{};
    T v = std::move(ring_[head_]);
    head_ = (head_ + 1) % ring_.size();
    --count_;
    return v;
  }

 private:
  void grow() {
    std::vector<T> bigger(ring_.empty() ? 4 : ring_.size() * 2);
    for (std::size_t i = 0; i < count_; ++i)
      bigger[i] = std::move(ring_[(head_ + i) % ring_.size()]);
    ring_ = std::move(bigger);
    head_ = 0;
  }
  std::vector<T> ring_;
  std::size_t head_ = 0, count_ = 0;
};

// One register transaction, as enqueued.
struct Request {
  enum Op : std::uint8_t { read = 0, write = 1 };
  std::uint64_t value = 0;  // value to write (0 for a read)
  std::uint32_t xid = 0;
  std::uint32_t page = 0;
  std::uint32_t addr = 0;
  std::uint8_t op = read;
  std::uint8_t size = 0;  // bytes
};

// The record's layout is fixed: other components build requests field by
// field at these offsets.
static_assert(offsetof(Request, value) == 0 && offsetof(Request, xid) == 8 &&
              offsetof(Request, page) == 12 && offsetof(Request, addr) == 16 &&
              offsetof(Request, op) == 20 && offsetof(Request, size) == 21);

// The answer to one request: an error text (empty on success), the value
// (the register's content for a read, the value written for a write) and the
// xid of the request it answers.
struct Result {
  std::string error;
  std::uint64_t value = 0;
  std::uint32_t xid = 0;
};

// Sees every transaction the register service performs, with its result,
// just before the result is delivered. The host installs one to count
// failures and writes; there is none by default. Called on the loop's
// thread; it must not touch the service.
class TransactionObserver {
 public:
  virtual void transaction(Request const& request, Result const& result) = 0;

 protected:
  ~TransactionObserver() = default;
};
// Installs the process's observer (null for none); returns the previous one.
TransactionObserver* transactionObserverIs(TransactionObserver* o) noexcept;

// The request queue of the register service.
class Config : public Kiv::Typed<Config> {
 public:
  static Orba::Ptr<Config> ConfigIs(Orba::String const& name);
  Orba::String const& name() const noexcept { return name_; }

  void requestEnq(Request const& r);
  bool requestHas() const noexcept { return !requests_.empty(); }
  Request requestDeq() { return requests_.pop(); }
  std::size_t requestCount() const noexcept { return requests_.size(); }

  Orba::Publisher* publisher() const override { return &publisher_; }
  static Kiv::AttributeId requestAttrId();
  static Kiv::TypeDesc const& typeDesc();

 private:
  explicit Config(Orba::String name) : name_(std::move(name)) {}
  Orba::String name_;
  Fifo<Request> requests_;
  mutable Orba::Publisher publisher_;
};

// The result queue of the register service. Adding a result notifies the
// result-queue attribute; taking one notifies nobody.
class Status : public Kiv::Typed<Status> {
 public:
  static Orba::Ptr<Status> StatusIs(Orba::String const& name);
  Orba::String const& name() const noexcept { return name_; }

  void resultEnq(Result const& r);
  bool resultHas() const noexcept { return !results_.empty(); }
  // The oldest result; an empty result (xid 0, no error) when there is none.
  Result resultDeq() { return results_.pop(); }
  std::size_t resultCount() const noexcept { return results_.size(); }

  Orba::Publisher* publisher() const override { return &publisher_; }
  static Kiv::AttributeId resultAttrId();
  static Kiv::TypeDesc const& typeDesc();

 private:
  explicit Status(Orba::String name) : name_(std::move(name)) {}
  Orba::String name_;
  Fifo<Result> results_;
  mutable Orba::Publisher publisher_;
};

// Synchronous reads of a PHY's MII registers on the service's bus.
class MiiOp {
 public:
  explicit MiiOp(HalMdioAccel::Accel* accel) : accel_(accel) {}
  // The register's value; 0 when the bus reports a failure.
  std::uint32_t read(Hardware::Mdio::PortAddr port, std::uint32_t reg) const;

 private:
  HalMdioAccel::Accel* accel_;
};

// The register service: executes the queued requests on the accelerator one
// at a time and delivers exactly one result per request, carrying its xid,
// through the event loop and never inside requestEnq, one bus access time
// after it starts on the request.
//
// Switch registers of the port PHYs (page 0x10 + p for port p of 0 to 7) are
// reached as MII register addr / 2 of the PHY at MDIO address p; 16-bit
// registers only. Any other page, size or operation, and a write value wider
// than 16 bits, is answered with an error result without touching the bus.
class RegisterSm : public Kiv::Typed<RegisterSm> {
 public:
  static Orba::Ptr<RegisterSm> RegisterSmIs(Orba::Ptr<HalMdioAccel::Accel> const& accel,
                                            Orba::Ptr<Config> const& config,
                                            Orba::Ptr<Status> const& status);

  Orba::Ptr<HalMdioAccel::Accel> const& accel() const noexcept { return accel_; }
  Orba::Ptr<Config> const& config() const noexcept { return config_; }
  Orba::Ptr<Status> const& status() const noexcept { return status_; }
  MiiOp const& miiOp() const noexcept { return miiOp_; }

  // Idempotent. While off, queued requests wait.
  void hasNotificationActiveIs(bool on);
  bool busy() const noexcept { return timer_.armed(); }

  static Kiv::TypeDesc const& typeDesc();

  static constexpr std::uint32_t kPhyPageBase = 0x10;
  static constexpr std::uint32_t kPhyCount = 8;

 private:
  RegisterSm(Orba::Ptr<HalMdioAccel::Accel> accel, Orba::Ptr<Config> config,
             Orba::Ptr<Status> status);
  ~RegisterSm() override;
  void startNext();
  void execute();
  Result perform(Request const& r);

  struct StepTimer : Kiv::Timer {
    explicit StepTimer(RegisterSm& sm) : owner(sm) {}
    void onTimer() override { owner.execute(); }
    RegisterSm& owner;
  };

  Orba::Ptr<HalMdioAccel::Accel> accel_;
  Orba::Ptr<Config> config_;
  Orba::Ptr<Status> status_;
  MiiOp miiOp_;
  Orba::SubscriberSlot requestSlot_;
  StepTimer timer_;
};

}  // namespace Bcm53134::MdioRegLib
