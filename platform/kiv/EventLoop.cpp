#include "platform/kiv/EventLoop.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <ctime>
#include <exception>
#include <memory>

#include "platform/kiv/Trace.h"
#include "platform/kiv/TraceOp.h"

namespace Kiv {

namespace {

// The loop's own facility; level 0 is on unless the host says otherwise.
TraceHandle& loopTrace() {
  static TraceHandle handle("EventLoop", true);
  return handle;
}

double monotonicSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// A posted function: a timer that runs once and frees itself.
class PostedCall : public Timer {
 public:
  explicit PostedCall(std::function<void()> fn) : fn_(std::move(fn)) {}

 protected:
  void onTimer() override {
    std::unique_ptr<PostedCall> self(this);
    auto fn = std::move(fn_);
    fn();
  }

 private:
  std::function<void()> fn_;
};

}  // namespace

Timer::~Timer() {
  disarm();
}

void Timer::arm(Seconds at) {
  auto& loop = EventLoop::instance();
  if (armed())
    loop.remove(this);
  // A time that is not in the future (or not a number) means now: the wake-up
  // then queues behind those already due instead of jumping ahead of them.
  Seconds const now = loop.now();
  due_ = at > now ? at : now;
  seq_ = loop.nextSeq_++;
  loop.insert(this);
}

void Timer::disarm() {
  if (armed())
    EventLoop::instance().remove(this);
}

EventLoop& EventLoop::instance() {
  // Never destroyed: timers in static objects may still disarm at exit.
  static EventLoop& loop = *new EventLoop;
  return loop;
}

void EventLoop::modeIs(Mode m) {
  if (m == mode_)
    return;
  if (m == Mode::realTime) {
    realBase_ = virtualNow_;
    monotonicBase_ = monotonicSeconds();
  } else {
    virtualNow_ = now();
  }
  mode_ = m;
}

Seconds EventLoop::now() const {
  if (mode_ == Mode::virtualTime)
    return virtualNow_;
  return realBase_ + (monotonicSeconds() - monotonicBase_);
}

void EventLoop::post(std::function<void()> fn) {
  (new PostedCall(std::move(fn)))->arm(now());
}

bool EventLoop::before(Timer const* a, Timer const* b) const noexcept {
  return a->due_ < b->due_ || (a->due_ == b->due_ && a->seq_ < b->seq_);
}

void EventLoop::swapAt(std::size_t i, std::size_t j) {
  std::swap(heap_[i], heap_[j]);
  heap_[i]->heapIndex_ = i;
  heap_[j]->heapIndex_ = j;
}

void EventLoop::siftUp(std::size_t i) {
  while (i > 0) {
    std::size_t parent = (i - 1) / 2;
    if (!before(heap_[i], heap_[parent]))
      break;
    swapAt(i, parent);
    i = parent;
  }
}

void EventLoop::siftDown(std::size_t i) {
  for (;;) {
    std::size_t l = 2 * i + 1, r = l + 1, m = i;
    if (l < heap_.size() && before(heap_[l], heap_[m]))
      m = l;
    if (r < heap_.size() && before(heap_[r], heap_[m]))
      m = r;
    if (m == i)
      break;
    swapAt(i, m);
    i = m;
  }
}

void EventLoop::insert(Timer* t) {
  t->heapIndex_ = heap_.size();
  heap_.push_back(t);
  siftUp(t->heapIndex_);
}

void EventLoop::remove(Timer* t) {
  std::size_t i = t->heapIndex_;
  std::size_t last = heap_.size() - 1;
  if (i != last)
    swapAt(i, last);
  heap_.pop_back();
  t->heapIndex_ = Timer::kNotArmed;
  if (i < heap_.size()) {
    siftDown(i);
    siftUp(i);
  }
}

Seconds EventLoop::nextDue() const noexcept {
  return heap_.empty() ? INFINITY : heap_.front()->due_;
}

bool EventLoop::runOneDue(Seconds upTo) {
  if (heap_.empty() || heap_.front()->due_ > upTo)
    return false;
  Timer* t = heap_.front();
  if (mode_ == Mode::virtualTime && t->due_ > virtualNow_)
    virtualNow_ = t->due_;
  remove(t);
  dispatch([t] { t->onTimer(); });
  return true;
}

// No exception leaves an event handler: one that escapes is traced and the
// loop goes on with the next event, so a refused mutation deep inside a
// handler cannot end the process.
void EventLoop::dispatch(auto const& handler) {
  try {
    handler();
    // By index: an observer may be deleted by one told before it.
    for (std::size_t i = 0; i < observers_.size(); ++i)
      observers_[i]->afterEvent();
  } catch (std::exception const& e) {
    KIV_TRACE(loopTrace(), 0) << Kiv::traceOp(this, "dispatch")
                              << ": an event handler was cut short by an exception: " << e.what();
  } catch (...) {
    KIV_TRACE(loopTrace(), 0) << Kiv::traceOp(this, "dispatch")
                              << ": an event handler was cut short by an unknown exception";
  }
}

std::size_t EventLoop::runUntilIdle() {
  std::size_t n = 0;
  while (runOneDue(now()))
    ++n;
  return n;
}

std::size_t EventLoop::advance(Seconds dt) {
  Seconds end = now() + dt;
  std::size_t n = 0;
  while (runOneDue(end))
    ++n;
  if (mode_ == Mode::virtualTime && virtualNow_ < end)
    virtualNow_ = end;
  return n;
}

bool EventLoop::runUntil(std::function<bool()> const& pred, Seconds limit) {
  if (pred())
    return true;
  while (runOneDue(limit)) {
    if (pred())
      return true;
  }
  if (mode_ == Mode::virtualTime && virtualNow_ < limit)
    virtualNow_ = limit;
  return pred();
}

void EventLoop::fdWatchIs(int fd, std::function<void()> onReadable) {
  fdWatchDel(fd);
  watches_.push_back({fd, std::move(onReadable)});
}

void EventLoop::eventObserverAdd(EventObserver* o) {
  observers_.push_back(o);
}

void EventLoop::eventObserverDel(EventObserver* o) noexcept {
  std::erase(observers_, o);
}

void EventLoop::fdWatchDel(int fd) {
  std::erase_if(watches_, [fd](Watch const& w) { return w.fd == fd; });
}

void EventLoop::run() {
  stopping_ = false;
  std::vector<pollfd> fds;
  while (!stopping_) {
    runUntilIdle();
    if (stopping_)
      break;
    // Sleep until the next wake-up exactly, however far off: stop() is only
    // ever called from a handler, and the loop looks at it after each one.
    // A sleep rounded to milliseconds, or cut short at a fixed interval,
    // would wake the process for nothing between polls.
    Seconds const wait = std::max(0.0, nextDue() - now());
    timespec timeout{};
    if (!std::isinf(wait)) {
      timeout.tv_sec = static_cast<time_t>(wait);
      timeout.tv_nsec = static_cast<long>(std::ceil((wait - std::floor(wait)) * 1e9));
      if (timeout.tv_nsec >= 1000000000L) {
        ++timeout.tv_sec;
        timeout.tv_nsec -= 1000000000L;
      }
    }
    fds.clear();
    for (auto const& w : watches_)
      fds.push_back({w.fd, POLLIN, 0});
    int n = ::ppoll(fds.data(), fds.size(), std::isinf(wait) ? nullptr : &timeout, nullptr);
    if (n > 0) {
      for (auto const& p : fds) {
        if (!(p.revents & (POLLIN | POLLHUP | POLLERR)))
          continue;
        for (auto const& w : watches_) {
          if (w.fd == p.fd) {
            auto cb = w.onReadable;  // the callback may remove its own watch
            dispatch(cb);
            break;
          }
        }
      }
    }
  }
}

void EventLoop::resetForTest(Seconds now) {
  while (!heap_.empty()) {
    Timer* t = heap_.back();
    remove(t);
    delete dynamic_cast<PostedCall*>(t);  // posted calls own themselves
  }
  mode_ = Mode::virtualTime;
  virtualNow_ = now;
}

}  // namespace Kiv
