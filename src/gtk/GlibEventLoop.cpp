#include "gtk/GlibEventLoop.h"

#include <glib-unix.h>

namespace brivok {

struct GlibEventLoop::Task {
  GlibEventLoop* loop = nullptr;  // null for posted tasks, which are never cancelled
  TaskId id = 0;
  std::function<void()> run;
};

GlibEventLoop::~GlibEventLoop() {
  std::lock_guard lock(mutex_);
  for (const auto& [id, source] : sources_) g_source_remove(source);
  sources_.clear();
}

void GlibEventLoop::post(std::function<void()> task) {
  auto* t = new Task{nullptr, 0, std::move(task)};
  // g_idle_add_full is safe from any thread: it wakes the default context.
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        auto* t = static_cast<Task*>(data);
        auto run = std::move(t->run);
        if (run) run();
        return G_SOURCE_REMOVE;
      },
      t, [](gpointer data) { delete static_cast<Task*>(data); });
}

gboolean GlibEventLoop::runOnce(gpointer data) {
  auto task = *static_cast<std::shared_ptr<Task>*>(data);  // survives a cancel from inside
  {
    std::lock_guard lock(task->loop->mutex_);
    task->loop->sources_.erase(task->id);
  }
  auto run = std::move(task->run);
  if (run) run();
  return G_SOURCE_REMOVE;
}

gboolean GlibEventLoop::runRepeating(gpointer data) {
  auto task = *static_cast<std::shared_ptr<Task>*>(data);
  if (task->run) task->run();
  return G_SOURCE_CONTINUE;
}

gboolean GlibEventLoop::runFd(gint, GIOCondition, gpointer data) {
  auto task = *static_cast<std::shared_ptr<Task>*>(data);
  if (task->run) task->run();
  return G_SOURCE_CONTINUE;
}

void GlibEventLoop::release(gpointer data) {
  delete static_cast<std::shared_ptr<Task>*>(data);
}

EventLoop::TaskId GlibEventLoop::postDelayed(Duration delay, std::function<void()> task) {
  auto t = std::make_shared<Task>(Task{this, 0, std::move(task)});
  std::lock_guard lock(mutex_);
  t->id = nextId_++;
  const auto ms = delay.count() < 0 ? 0 : static_cast<guint>(delay.count());
  sources_[t->id] = g_timeout_add_full(G_PRIORITY_DEFAULT, ms, &GlibEventLoop::runOnce,
                                       new std::shared_ptr<Task>(t), &GlibEventLoop::release);
  return t->id;
}

EventLoop::TaskId GlibEventLoop::repeat(Duration interval, std::function<void()> task) {
  auto t = std::make_shared<Task>(Task{this, 0, std::move(task)});
  std::lock_guard lock(mutex_);
  t->id = nextId_++;
  const auto ms = interval.count() < 1 ? 1 : static_cast<guint>(interval.count());
  sources_[t->id] = g_timeout_add_full(G_PRIORITY_DEFAULT, ms, &GlibEventLoop::runRepeating,
                                       new std::shared_ptr<Task>(t), &GlibEventLoop::release);
  return t->id;
}

EventLoop::TaskId GlibEventLoop::watchFd(int fd, std::function<void()> ready) {
  auto t = std::make_shared<Task>(Task{this, 0, std::move(ready)});
  std::lock_guard lock(mutex_);
  t->id = nextId_++;
  sources_[t->id] = g_unix_fd_add_full(
      G_PRIORITY_DEFAULT, fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
      &GlibEventLoop::runFd, new std::shared_ptr<Task>(t), &GlibEventLoop::release);
  return t->id;
}

void GlibEventLoop::cancel(TaskId id) {
  guint source = 0;
  {
    std::lock_guard lock(mutex_);
    auto it = sources_.find(id);
    if (it == sources_.end()) return;
    source = it->second;
    sources_.erase(it);
  }
  g_source_remove(source);
}

}  // namespace brivok
