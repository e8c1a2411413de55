#include "backend/Backend.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

#include "backend/OutputReader.h"
#include "core/Files.h"

namespace brivok {
namespace {

constexpr auto kStopGrace = std::chrono::milliseconds(5000);

bool isExecutableFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

int openPidfd(pid_t pid) {
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
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

std::map<std::string, std::string> Backend::childEnvironment(std::map<std::string, std::string> env,
                                                             const std::string& resources,
                                                             const std::string& home,
                                                             const std::string& token,
                                                             pid_t parent) {
  const auto inheritedPath = env.count("PATH") ? env["PATH"] : std::string();
  env["PYTHONPATH"] = resources + "/app:" + resources + "/site-packages";
  env["PYTHONUNBUFFERED"] = "1";
  env["PYTHONDONTWRITEBYTECODE"] = "1";
  env["BRIVOK_DESKTOP_TOKEN"] = token;
  env["BRIVOK_PARENT_PID"] = std::to_string(parent);
  env["PATH"] = "/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin:" + home +
                "/.local/bin:" + inheritedPath;
  return env;
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
      childEnvironment(config_.environment ? *config_.environment : processEnvironment(),
                       config_.resources, config_.home, token_, getpid());

  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    if (onExit) onExit(std::string("Could not start the backend: ") + std::strerror(errno));
    return;
  }
  // A fresh, empty log at every start; 0600 whatever the umask, since the backend's
  // standard error may hold secrets. A symlink in its place is not followed.
  const std::string log = logPath();
  int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (logFd >= 0) fchmod(logFd, 0600);

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // The child leads a process group of its own, which stop() signals as a whole. Signals the
  // shell ignores or blocks must not stay ignored in the backend, or SIGTERM would not end it.
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attr, 0);
  sigset_t defaults, empty;
  sigemptyset(&defaults);
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGQUIT}) sigaddset(&defaults, sig);
  sigemptyset(&empty);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &empty);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  if (logFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, logFd, 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addchdir_np(&actions, config_.home.c_str());
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  std::vector<std::string> envStrings;
  envStrings.reserve(env.size());
  for (const auto& [name, value] : env) envStrings.push_back(name + "=" + value);
  std::vector<char*> argv, envp;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  pid_t child = 0;
  const int r = posix_spawn(&child, interpreter.c_str(), &actions, &attr, argv.data(), envp.data());
  close(pipeFds[1]);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);

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
    if (group_ > 0) kill(-std::exchange(group_, 0), SIGKILL);
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
  for (;;) {
    int status = 0;
    const pid_t waited = waitpid(child, &status, WNOHANG);
    if (waited == child || (waited < 0 && errno != EINTR)) {
      kill(-child, SIGKILL);  // whatever else is left of its group
      if (pidfd >= 0) close(pidfd);
      return;
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
  kill(-child, SIGKILL);
  reap(child);
  if (pidfd >= 0) close(pidfd);
}

}  // namespace brivok
