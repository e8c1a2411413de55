#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace brivok {

using Clock = std::chrono::steady_clock;
using Duration = std::chrono::milliseconds;

// The main loop as the logic sees it. Every callback runs on the main thread.
// post() is the one call that may come from any thread (the backend's output reader
// hands its results over with it); everything else belongs to the main thread.
class EventLoop {
 public:
  using TaskId = std::uint64_t;  // 0 is never a valid id

  virtual ~EventLoop() = default;

  virtual void post(std::function<void()> task) = 0;
  virtual TaskId postDelayed(Duration delay, std::function<void()> task) = 0;
  virtual TaskId repeat(Duration interval, std::function<void()> task) = 0;
  // Calls `ready` each time `fd` is readable or hung up, until cancelled.
  virtual TaskId watchFd(int fd, std::function<void()> ready) = 0;
  // Cancelling an id that already ran or was cancelled does nothing.
  virtual void cancel(TaskId id) = 0;
  virtual Clock::time_point now() const = 0;
};

}  // namespace brivok
