#pragma once

#include <memory>
#include <utility>

#include "core/EventLoop.h"

namespace brivok {

// A timer on the event loop that is cancelled when its handle goes: an object that owns its
// timers needs no cancel bookkeeping, and none of them outlives it. Move-only.
class Timer {
 public:
  Timer() = default;
  ~Timer() { cancel(); }
  Timer(Timer&& other) noexcept : loop_(std::move(other.loop_)), id_(std::exchange(other.id_, 0)) {}
  Timer& operator=(Timer&& other) noexcept {
    if (this != &other) {
      cancel();
      loop_ = std::move(other.loop_);
      id_ = std::exchange(other.id_, 0);
    }
    return *this;
  }
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  static Timer after(const std::shared_ptr<EventLoop>& loop, Duration delay,
                     std::function<void()> task) {
    return Timer(loop, loop->postDelayed(delay, std::move(task)));
  }
  static Timer every(const std::shared_ptr<EventLoop>& loop, Duration interval,
                     std::function<void()> task) {
    return Timer(loop, loop->repeat(interval, std::move(task)));
  }

  void cancel() {
    if (id_ && loop_) loop_->cancel(id_);
    id_ = 0;
  }

 private:
  Timer(std::shared_ptr<EventLoop> loop, EventLoop::TaskId id) : loop_(std::move(loop)), id_(id) {}

  std::shared_ptr<EventLoop> loop_;
  EventLoop::TaskId id_ = 0;
};

}  // namespace brivok
