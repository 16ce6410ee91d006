#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

namespace Kiv {

using Seconds = double;
class EventLoop;

// Told after every event the loop runs (a timer, a posted call, a watched
// descriptor's callback), on the loop's thread. Lets the host notice what
// an event changed without the changed object announcing it; it must be
// cheap and must not run the loop.
class EventObserver {
 public:
  virtual void afterEvent() = 0;

 protected:
  ~EventObserver() = default;
};

// One wake-up source of the event loop. Arming sets the time of its single
// pending wake-up (a new arming replaces the pending one; a time that is not
// in the future means now); when it is due the loop calls onTimer() once. A
// timer may re-arm or destroy itself from onTimer(). Destroying a timer
// disarms it.
class Timer {
 public:
  Timer() = default;
  Timer(Timer const&) = delete;
  Timer& operator=(Timer const&) = delete;
  virtual ~Timer();

  void arm(Seconds at);
  void disarm();
  bool armed() const noexcept { return heapIndex_ != kNotArmed; }
  Seconds due() const noexcept { return due_; }

 protected:
  virtual void onTimer() = 0;

 private:
  friend class EventLoop;
  static constexpr std::size_t kNotArmed = std::numeric_limits<std::size_t>::max();
  Seconds due_ = 0;
  std::uint64_t seq_ = 0;
  std::size_t heapIndex_ = kNotArmed;
};

// The process's single-threaded event loop. Everything the agent sees happen
// (clock expiries, register results, mount completion) comes through it, one
// event at a time, in order of due time and, for equal times, of arming.
//
// Virtual mode (the default; tests, scenarios, soaks): time stands still while
// events are runnable and jumps to the next armed wake-up otherwise.
// Real mode (the host): time follows the monotonic clock and the loop sleeps
// until the next wake-up or until a watched file descriptor is readable.
class EventLoop {
 public:
  enum class Mode { virtualTime, realTime };

  static EventLoop& instance();

  Mode mode() const noexcept { return mode_; }
  // Switching to real time keeps the current reading and follows the
  // monotonic clock from there.
  void modeIs(Mode m);
  Seconds now() const;

  // Runs fn once at the current time, after the events already due now.
  void post(std::function<void()> fn);

  // Runs every event due at or before now; returns how many ran.
  std::size_t runUntilIdle();
  // Virtual mode: runs events in order up to now + dt, moving the clock to
  // each, and leaves the clock at now + dt.
  std::size_t advance(Seconds dt);
  // Virtual mode: runs events (jumping the clock) until pred() holds after an
  // event, or until the clock would pass the limit. Returns whether pred held.
  bool runUntil(std::function<bool()> const& pred, Seconds limit);
  // The due time of the next armed wake-up, or infinity.
  Seconds nextDue() const noexcept;
  std::size_t armedCount() const noexcept { return heap_.size(); }

  // Real mode: runs until stop(). Watched descriptors are polled while the
  // loop waits.
  void run();
  void stop() noexcept { stopping_ = true; }
  void fdWatchIs(int fd, std::function<void()> onReadable);
  void fdWatchDel(int fd);

  // Tests: drop every armed timer's arming and set the virtual clock.
  void resetForTest(Seconds now = 0);

  // The observers of every event (none by default), told in the order they
  // were added. An observer is added once and deleted before it goes.
  void eventObserverAdd(EventObserver* o);
  void eventObserverDel(EventObserver* o) noexcept;

 private:
  friend class Timer;
  EventLoop() = default;
  void insert(Timer* t);
  void remove(Timer* t);
  void siftUp(std::size_t i);
  void siftDown(std::size_t i);
  bool before(Timer const* a, Timer const* b) const noexcept;
  void swapAt(std::size_t i, std::size_t j);
  bool runOneDue(Seconds upTo);
  void dispatch(auto const& handler);

  Mode mode_ = Mode::virtualTime;
  Seconds virtualNow_ = 0;
  Seconds realBase_ = 0;      // reading when real mode started
  double monotonicBase_ = 0;  // monotonic clock then
  std::uint64_t nextSeq_ = 1;
  std::vector<Timer*> heap_;
  bool stopping_ = false;
  struct Watch {
    int fd;
    std::function<void()> onReadable;
  };
  std::vector<Watch> watches_;
  std::vector<EventObserver*> observers_;
};

}  // namespace Kiv
