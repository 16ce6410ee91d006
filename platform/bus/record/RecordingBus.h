#pragma once

#include <functional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "platform/bus/Bus.h"
#include "platform/kiv/EventLoop.h"
#include "platform/kiv/Typed.h"

namespace Hardware::Mdio::Record {

// A pass-through in front of any bus that, while recording, writes every
// access to a bus record (see BusRecord.h). Not recording, an access costs
// one branch more than the bus behind it and allocates nothing. Recording,
// lines are formatted into a buffer kept for the bus's life and written out
// when it fills, at least once a second (through the loop), and when the
// record ends; once the file would pass its size limit the record ends with
// a line saying so and the bus goes on unrecorded.
class RecordingBus : public Kiv::Typed<RecordingBus, Bus> {
 public:
  static Orba::Ptr<RecordingBus> RecordingBusIs(Orba::Ptr<Bus> inner);
  ~RecordingBus() override;

  AccessResult read(PortAddr phy, std::uint8_t reg) override;
  AccessResult write(PortAddr phy, std::uint8_t reg, std::uint16_t value) override;
  Kiv::Seconds accessTime() const override { return inner_->accessTime(); }
  std::string description() const override { return inner_->description(); }
  Bus& inner() const noexcept { return *inner_; }
  Orba::Ptr<Bus> const& innerPtr() const noexcept { return inner_; }

  static constexpr std::size_t kDefaultLimit = 4 << 20;

  // Starts a record in a new file at `path`, made exclusively: a path that
  // names anything already (a file, a FIFO, a directory, a link) is refused
  // and left untouched, and nothing here ever waits for a reader. `members`
  // (a JSON object, or null for none) are the members the first line carries
  // after its own; `fromStart`: whether the agent starts with the record.
  // Throws std::runtime_error naming the file when it cannot be created,
  // when a record is going already, or when the limit leaves no room for a
  // line.
  void recordingIs(std::string const& path, nlohmann::ordered_json const& members,
                   std::size_t limit, bool fromStart);
  // Ends the record (the end line with `reason`, then the file is closed).
  // No-op when not recording.
  void recordingEnd(char const* reason = "stopped");
  bool recording() const noexcept { return fd_ >= 0; }
  std::string const& path() const noexcept { return path_; }
  std::size_t accesses() const noexcept { return accesses_; }
  std::size_t bytes() const noexcept { return written_ + buffer_.size(); }
  // Told, with a line for the user, when a record ends by itself (its size
  // limit, or a failed write).
  void endHandlerIs(std::function<void(std::string const&)> fn) { onEnd_ = std::move(fn); }

  static Kiv::TypeDesc const& typeDesc();

 private:
  explicit RecordingBus(Orba::Ptr<Bus> inner);
  class FlushTimer : public Kiv::Timer {
   public:
    explicit FlushTimer(RecordingBus& b) : bus_(b) {}
    void onTimer() override { bus_.flush(); }

   private:
    RecordingBus& bus_;
  };
  void note(bool write, PortAddr phy, std::uint8_t reg, std::uint16_t value,
            std::string const& error);
  void append(std::string const& line);
  void flush();
  void close(char const* reason, std::string const& tell);
  Kiv::Seconds since() const;

  Orba::Ptr<Bus> inner_;
  int fd_ = -1;
  std::string path_;
  std::size_t limit_ = kDefaultLimit;
  std::size_t written_ = 0, accesses_ = 0;
  Kiv::Seconds t0_ = 0;
  std::string buffer_, line_;
  FlushTimer timer_{*this};
  std::function<void(std::string const&)> onEnd_;
};

}  // namespace Hardware::Mdio::Record
