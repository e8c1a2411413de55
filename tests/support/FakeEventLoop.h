#pragma once

#include <deque>
#include <map>
#include <mutex>

#include "core/EventLoop.h"

namespace brivok::testing {

// A loop whose time moves only when the test says so. Timers due at the same moment run in
// the order they were made.
class FakeEventLoop : public EventLoop {
 public:
  void post(std::function<void()> task) override {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(task));
  }
  TaskId postDelayed(Duration delay, std::function<void()> task) override {
    return addTimer(delay, Duration::zero(), std::move(task));
  }
  TaskId repeat(Duration interval, std::function<void()> task) override {
    return addTimer(interval, interval, std::move(task));
  }
  // Nothing under test here watches descriptors; the process tests use the real loop.
  TaskId watchFd(int, std::function<void()>) override { return nextId_++; }
  void cancel(TaskId id) override { timers_.erase(id); }
  Clock::time_point now() const override { return now_; }

  // Runs everything posted so far, and what those tasks post in turn.
  void runPosted() {
    for (;;) {
      std::function<void()> task;
      {
        std::lock_guard lock(mutex_);
        if (posted_.empty()) return;
        task = std::move(posted_.front());
        posted_.pop_front();
      }
      task();
    }
  }

  // Moves time forward, running every timer that falls due on the way, at its own time.
  void advance(Duration by) {
    const auto target = now_ + by;
    runPosted();
    for (;;) {
      auto next = timers_.end();
      for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->second.due <= target &&
            (next == timers_.end() || it->second.due < next->second.due))
          next = it;
      }
      if (next == timers_.end()) break;
      now_ = next->second.due;
      auto task = next->second.task;
      if (next->second.interval > Duration::zero()) {
        next->second.due += next->second.interval;
      } else {
        timers_.erase(next);
      }
      task();
      runPosted();
    }
    now_ = target;
  }

  std::size_t pendingTimers() const { return timers_.size(); }

 private:
  struct Timer {
    Clock::time_point due;
    Duration interval;
    std::function<void()> task;
  };
  TaskId addTimer(Duration delay, Duration interval, std::function<void()> task) {
    const TaskId id = nextId_++;
    timers_[id] = {now_ + delay, interval, std::move(task)};
    return id;
  }

  Clock::time_point now_{std::chrono::hours(1)};
  TaskId nextId_ = 1;
  std::map<TaskId, Timer> timers_;
  std::mutex mutex_;
  std::deque<std::function<void()>> posted_;
};

}  // namespace brivok::testing
