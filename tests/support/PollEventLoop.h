#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "core/EventLoop.h"

namespace brivok::testing {

// A real, single-threaded loop on poll(2), for tests that need real descriptors and real time
// without a toolkit.
class PollEventLoop : public EventLoop {
 public:
  PollEventLoop() : wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~PollEventLoop() override { close(wake_); }

  void post(std::function<void()> task) override {
    {
      std::lock_guard lock(mutex_);
      posted_.push_back(std::move(task));
    }
    const std::uint64_t one = 1;
    (void)!write(wake_, &one, sizeof one);
  }
  TaskId postDelayed(Duration delay, std::function<void()> task) override {
    const TaskId id = next_++;
    timers_[id] = {Clock::now() + delay, Duration::zero(), std::move(task)};
    return id;
  }
  TaskId repeat(Duration interval, std::function<void()> task) override {
    const TaskId id = next_++;
    timers_[id] = {Clock::now() + interval, interval, std::move(task)};
    return id;
  }
  TaskId watchFd(int fd, std::function<void()> ready) override {
    const TaskId id = next_++;
    watches_[id] = {fd, std::move(ready)};
    return id;
  }
  void cancel(TaskId id) override {
    timers_.erase(id);
    watches_.erase(id);
  }
  Clock::time_point now() const override { return Clock::now(); }

  // Runs the loop until `done` holds or `limit` has passed; returns `done()`.
  template <typename Pred>
  bool runUntil(Pred done, Duration limit = std::chrono::seconds(10)) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
      if (Clock::now() >= deadline) return false;
      runOnce(deadline);
    }
    return true;
  }

 private:
  void runOnce(Clock::time_point deadline) {
    // Wake often enough for runUntil() to notice conditions outside the loop's own events.
    auto wakeAt = std::min(deadline, Clock::now() + std::chrono::milliseconds(10));
    for (const auto& [id, t] : timers_) wakeAt = std::min(wakeAt, t.due);
    std::vector<pollfd> fds{{wake_, POLLIN, 0}};
    std::vector<TaskId> ids{0};
    for (const auto& [id, w] : watches_) {
      fds.push_back({w.fd, POLLIN, 0});
      ids.push_back(id);
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - Clock::now());
    poll(fds.data(), fds.size(), std::max<int>(0, static_cast<int>(wait.count()) + 1));
    std::uint64_t drained;
    (void)!read(wake_, &drained, sizeof drained);
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      auto it = watches_.find(ids[i]);
      if (it != watches_.end()) {
        auto ready = it->second.ready;
        ready();
      }
    }
    for (;;) {
      std::function<void()> task;
      {
        std::lock_guard lock(mutex_);
        if (posted_.empty()) break;
        task = std::move(posted_.front());
        posted_.pop_front();
      }
      task();
    }
    const auto now = Clock::now();
    std::vector<TaskId> due;
    for (const auto& [id, t] : timers_)
      if (t.due <= now) due.push_back(id);
    for (TaskId id : due) {
      auto it = timers_.find(id);
      if (it == timers_.end()) continue;
      auto task = it->second.task;
      if (it->second.interval > Duration::zero())
        it->second.due = now + it->second.interval;
      else
        timers_.erase(it);
      task();
    }
  }

  struct Timer {
    Clock::time_point due;
    Duration interval;
    std::function<void()> task;
  };
  struct Watch {
    int fd;
    std::function<void()> ready;
  };
  int wake_;
  TaskId next_ = 1;
  std::map<TaskId, Timer> timers_;
  std::map<TaskId, Watch> watches_;
  std::mutex mutex_;
  std::deque<std::function<void()>> posted_;
};

}  // namespace brivok::testing
