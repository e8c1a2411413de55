#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/EventLoop.h"

namespace brivok {

class OutputReader;

// The one owner of the backend program's child process: launches it, copies its
// output into the log, learns its address, reports its end and stops its process group.
class Backend : public std::enable_shared_from_this<Backend> {
 public:
  struct Config {
    std::string resources;  // RES: holds python/bin/python3, app/, site-packages/
    std::string home;       // the child's working directory
    std::string logPath;    // the backend's log file
    // The environment handed on to the child; the shell's own when absent.
    std::optional<std::map<std::string, std::string>> environment;
    // The file mode creation mask the backend starts with, when the shell's own is stricter.
    std::optional<mode_t> childUmask{};
  };

  static constexpr const char* kMissingRuntimeMessage =
      "The bundled Python runtime is missing from the app. Rebuild with scripts/build.";

  static std::shared_ptr<Backend> create(std::shared_ptr<EventLoop> loop, Config config);
  ~Backend();
  Backend(const Backend&) = delete;
  Backend& operator=(const Backend&) = delete;

  void start();
  // Ends the child's whole process group: SIGTERM, then SIGKILL once the child is collected
  // or after the grace period. Blocks until then. Never calls onExit.
  void stop();

  // The base address, once the backend has announced it. Safe from any thread.
  std::optional<std::string> url() const;
  const std::string& token() const { return token_; }
  // The log file's path; its folder is created on every read.
  std::string logPath() const;
  pid_t pid() const { return pid_; }

  std::function<void(const std::string& url)> onReady;
  std::function<void(const std::string& message)> onExit;

  // Exposed for tests: the text for a waitpid() outcome.
  static std::string describeExit(pid_t waited, pid_t child, int status);
  static std::string makeToken();

 private:
  Backend(std::shared_ptr<EventLoop> loop, Config config);
  void exited(pid_t child);
  void stopWatching();
  static std::string reap(pid_t child);

  std::shared_ptr<EventLoop> loop_;
  Config config_;
  const std::string token_;
  pid_t pid_ = 0;
  pid_t group_ = 0;  // the child's process group, kept after its leader has ended
  int pidfd_ = -1;
  EventLoop::TaskId exitWatch_ = 0;
  std::shared_ptr<OutputReader> reader_;  // (owned) reads the output pipe on its own thread

  // Written by the reader thread, read on the main thread.
  struct Published {
    mutable std::mutex mutex;
    std::optional<std::string> url;
  };
  std::shared_ptr<Published> published_;
};

}  // namespace brivok
