#pragma once

#include <glib.h>

#include <map>
#include <memory>
#include <mutex>

#include "core/EventLoop.h"

namespace brivok {

// The event loop on the GLib default main context.
class GlibEventLoop : public EventLoop {
 public:
  GlibEventLoop() = default;
  ~GlibEventLoop() override;

  void post(std::function<void()> task) override;
  TaskId postDelayed(Duration delay, std::function<void()> task) override;
  TaskId repeat(Duration interval, std::function<void()> task) override;
  TaskId watchFd(int fd, std::function<void()> ready) override;
  void cancel(TaskId id) override;
  Clock::time_point now() const override { return Clock::now(); }

 private:
  struct Task;
  static gboolean runOnce(gpointer data);
  static gboolean runRepeating(gpointer data);
  static gboolean runFd(gint fd, GIOCondition condition, gpointer data);
  static void release(gpointer data);

  std::mutex mutex_;  // post() may come from any thread
  std::map<TaskId, guint> sources_;
  TaskId nextId_ = 1;
};

}  // namespace brivok
