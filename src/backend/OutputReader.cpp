#include "backend/OutputReader.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

namespace brivok {

OutputReader::OutputReader(int pipeFd, int logFd, std::string token,
                           std::function<void(const std::string&)> announced)
    : pipeFd_(pipeFd),
      logFd_(logFd),
      wakeFd_(eventfd(0, EFD_CLOEXEC)),
      processor_(std::move(token)),
      announced_(std::move(announced)) {
  thread_ = std::thread([this] { run(); });
}

OutputReader::~OutputReader() {
  if (wakeFd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = write(wakeFd_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  if (pipeFd_ >= 0) close(pipeFd_);
  if (logFd_ >= 0) close(logFd_);
  if (wakeFd_ >= 0) close(wakeFd_);
}

void OutputReader::awaitEnd(std::chrono::milliseconds limit) {
  std::unique_lock lock(endMutex_);
  endSeen_.wait_for(lock, limit, [this] { return ended_; });
}

void OutputReader::writeLog(std::string_view text) {
  if (logFd_ < 0) return;
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t n = write(logFd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a full disk is not the backend's problem; go on reading
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

void OutputReader::run() {
  // A roomy pipe and large reads keep the number of system calls per byte low when the
  // backend floods its output; the kernel may refuse the size, which only costs speed.
  fcntl(pipeFd_, F_SETPIPE_SZ, kReadSize);
  // Reads go on while output keeps coming; only an empty pipe waits, and the owner's wake-up
  // can end that wait.
  fcntl(pipeFd_, F_SETFL, fcntl(pipeFd_, F_GETFL) | O_NONBLOCK);
  std::vector<char> buffer(kReadSize);
  pollfd fds[2] = {{pipeFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  bool silenceHeard = false;  // the silence after the current unterminated line was waited out
  for (;;) {
    const ssize_t n = read(pipeFd_, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // An unterminated line is whole once the backend has said nothing more for a while.
      const bool listen = !silenceHeard && processor_.awaitingLineEnd();
      const int ready = poll(fds, wakeFd_ >= 0 ? 2 : 1, listen ? OutputProcessor::kSilenceMs : -1);
      if (ready < 0 && errno != EINTR) return;
      if (ready > 0 && fds[1].revents) return;  // the owner is going away
      if (ready == 0 && listen) {
        silenceHeard = true;
        auto result = processor_.silent();
        if (result.readyUrl && announced_) announced_(*result.readyUrl);
      }
      continue;
    }
    if (n <= 0) break;
    silenceHeard = false;
    auto result = processor_.feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    writeLog(result.log);
    if (result.readyUrl && announced_) announced_(*result.readyUrl);
  }
  auto result = processor_.finish();
  writeLog(result.log);
  if (result.readyUrl && announced_) announced_(*result.readyUrl);
  close(pipeFd_);
  pipeFd_ = -1;
  // The child's standard error keeps its own descriptor of the log.
  if (logFd_ >= 0) close(logFd_);
  logFd_ = -1;
  {
    std::lock_guard lock(endMutex_);
    ended_ = true;
  }
  endSeen_.notify_all();
}

}  // namespace brivok
