#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "backend/OutputProcessor.h"

namespace brivok {

// Reads the backend's standard output on a thread of its own, so the log keeps filling
// while the main thread is busy (or waiting in Backend::stop()). It owns the pipe's
// read end and the shell's log descriptor and closes both at end of file.
class OutputReader {
 public:
  OutputReader(int pipeFd, int logFd, std::string token,
               std::function<void(const std::string& url)> announced);
  // Wakes and joins the thread; output still unread is dropped.
  ~OutputReader();
  // Waits, at most `limit`, until the output has ended and everything read is in the log.
  void awaitEnd(std::chrono::milliseconds limit);
  OutputReader(const OutputReader&) = delete;
  OutputReader& operator=(const OutputReader&) = delete;

 private:
  void run();
  static constexpr int kReadSize = 1024 * 1024;

  void writeLog(std::string_view text);

  int pipeFd_;
  int logFd_;
  int wakeFd_;
  OutputProcessor processor_;
  std::function<void(const std::string&)> announced_;
  std::mutex endMutex_;
  std::condition_variable endSeen_;
  bool ended_ = false;  // guarded by endMutex_
  std::thread thread_;
};

}  // namespace brivok
