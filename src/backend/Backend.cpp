#include "backend/Backend.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "backend/ChildProcess.h"
#include "backend/Descendants.h"
#include "backend/OutputReader.h"
#include "core/Files.h"

namespace brivok {
namespace {

constexpr auto kStopGrace = std::chrono::milliseconds(5000);
// How long a stop waits for the output still in the pipe to reach the log.
constexpr auto kLogSettle = std::chrono::milliseconds(500);
// How long the stop waits to collect the backend once it is killed.
constexpr auto kReapLimit = std::chrono::milliseconds(1000);
constexpr auto kExitPollInterval = std::chrono::milliseconds(200);

bool isExecutableFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

int openPidfd(pid_t pid) {
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

// A fresh, empty log at every start, private to the user whatever the umask, since the
// backend's standard error may hold secrets. Whatever stood at the path (a FIFO that would
// block, a link to another file, an old log) is replaced, never opened or written through.
int freshLogFile(const std::string& path) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  fchmod(fd, 0600);
  if (rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::shared_ptr<Backend> Backend::create(std::shared_ptr<EventLoop> loop, Config config) {
  return std::shared_ptr<Backend>(new Backend(std::move(loop), std::move(config)));
}

Backend::Backend(std::shared_ptr<EventLoop> loop, Config config)
    : loop_(std::move(loop)),
      config_(std::move(config)),
      token_(makeToken()),
      published_(std::make_shared<Published>()) {}

Backend::~Backend() {
  stopWatching();
  reader_.reset();  // joins the reader thread
}

std::string Backend::makeToken() {
  // 128 random bits as 32 upper-case hexadecimal digits, like a UUID without its dashes.
  std::random_device device;
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string token;
  for (int i = 0; i < 4; ++i) {
    std::uint32_t word = device();
    for (int j = 0; j < 8; ++j) {
      token.push_back(kHex[word & 0xF]);
      word >>= 4;
    }
  }
  return token;
}

std::optional<std::string> Backend::url() const {
  std::lock_guard lock(published_->mutex);
  return published_->url;
}

std::string Backend::logPath() const {
  const auto slash = config_.logPath.rfind('/');
  if (slash != std::string::npos && slash > 0) makeDirectories(config_.logPath.substr(0, slash));
  return config_.logPath;
}

void Backend::start() {
  if (pid_ > 0) return;
  const std::string interpreter = config_.resources + "/python/bin/python3";
  if (!isExecutableFile(interpreter)) {
    if (onExit) onExit(kMissingRuntimeMessage);
    return;
  }
  const std::vector<std::string> args = {interpreter, "-m",     "brivok_cli.main",
                                         "desktop",   "--port", "0"};
  const auto env =
      backendEnvironment(config_.environment ? *config_.environment : processEnvironment(),
                         config_.resources, config_.home, token_, getpid());

  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    if (onExit) onExit(std::string("Could not start the backend: ") + std::strerror(errno));
    return;
  }
  // Whatever the backend starts and leaves, in its group or not, is found at stop by the
  // token in its environment; the shell does not adopt orphans, so programs it hands a link
  // or a folder to (which double-fork) never come back to it as zombies.
  const int logFd = freshLogFile(logPath());

  std::vector<std::string> envStrings;
  envStrings.reserve(env.size());
  for (const auto& [name, value] : env) envStrings.push_back(name + "=" + value);
  std::vector<char*> argv, envp;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  const ChildSetup setup{interpreter.c_str(),  argv.data(), envp.data(),       pipeFds[1], logFd,
                         config_.home.c_str(), getpid(),    config_.childUmask};
  pid_t child = 0;
  const int r = spawnChild(setup, child);
  close(pipeFds[1]);

  if (r != 0) {
    close(pipeFds[0]);
    if (logFd >= 0) close(logFd);
    if (onExit) onExit(std::string("Could not start the backend: ") + std::strerror(r));
    return;
  }
  pid_ = child;
  group_ = child;

  std::weak_ptr<Backend> weak = weak_from_this();
  auto published = published_;
  auto loop = loop_;
  reader_ = std::make_shared<OutputReader>(pipeFds[0], logFd, token_,
                                           [weak, published, loop](const std::string& url) {
                                             {
                                               std::lock_guard lock(published->mutex);
                                               published->url = url;
                                             }
                                             loop->post([weak, url] {
                                               auto self = weak.lock();
                                               if (self && self->onReady) self->onReady(url);
                                             });
                                           });

  pidfd_ = openPidfd(child);
  if (pidfd_ >= 0) {
    exitWatch_ = loop_->watchFd(pidfd_, [weak, child] {
      if (auto self = weak.lock()) self->exited(child);
    });
  } else {
    // A kernel without process descriptors (or a sandbox that refuses them): look in on
    // the child instead, without collecting it, so its end is still reported.
    exitWatch_ = loop_->repeat(kExitPollInterval, [weak, child] {
      siginfo_t info{};
      if (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
          info.si_pid == child) {
        if (auto self = weak.lock()) self->exited(child);
      }
    });
  }
}

void Backend::stopWatching() {
  if (exitWatch_) loop_->cancel(exitWatch_);
  exitWatch_ = 0;
  if (pidfd_ >= 0) close(pidfd_);
  pidfd_ = -1;
}

std::string Backend::describeExit(pid_t waited, pid_t child, int status) {
  if (waited != child || child <= 0) return "exit unknown";
  if ((status & 0x7F) == 0) return "exit " + std::to_string((status >> 8) & 0xFF);
  return "signal " + std::to_string(status & 0x7F);
}

std::string Backend::reap(pid_t child) {
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  return describeExit(waited, child, status);
}

void Backend::exited(pid_t child) {
  if (pid_ != child) return;
  const std::string description = reap(child);
  pid_ = 0;
  stopWatching();
  if (onExit) onExit("The Brivok backend stopped (" + description + "). See " + logPath() + ".");
}

void Backend::stop() {
  if (pid_ <= 0) {
    // The backend ended by itself; whatever it started and left behind ends with the shell.
    if (group_ > 0) {
      kill(-std::exchange(group_, 0), SIGKILL);
      killDescendants(token_);
    }
    return;
  }
  const pid_t child = pid_;
  pid_ = 0;
  group_ = 0;
  // Keep the descriptor to wait on, but no exit message for a stop.
  const int pidfd = pidfd_;
  pidfd_ = -1;
  if (exitWatch_) loop_->cancel(exitWatch_);
  exitWatch_ = 0;

  kill(-child, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + kStopGrace;
  bool ended = false;
  for (;;) {
    int status = 0;
    const pid_t waited = waitpid(child, &status, WNOHANG);
    if (waited == child || (waited < 0 && errno != EINTR)) {
      ended = true;
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      poll(&p, 1, static_cast<int>(left.count()) + 1);
    } else {
      usleep(50000);
    }
  }
  kill(-child, SIGKILL);  // whatever else is left of its group
  // Collected when it is gone; one held in the kernel past a second is left behind rather
  // than holding the shell's quit.
  const auto reapDeadline = std::chrono::steady_clock::now() + kReapLimit;
  while (!ended && std::chrono::steady_clock::now() < reapDeadline) {
    const pid_t waited = waitpid(child, nullptr, WNOHANG);
    ended = waited == child || (waited < 0 && errno != EINTR);
    if (!ended) usleep(5000);
  }
  killDescendants(token_);
  if (pidfd >= 0) close(pidfd);
  // Its last words reach the log before the shell may end.
  if (reader_) reader_->awaitEnd(kLogSettle);
}

}  // namespace brivok
