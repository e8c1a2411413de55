#include "backend/Backend.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "backend/OutputReader.h"
#include "core/Files.h"

namespace brivok {
namespace {

constexpr auto kStopGrace = std::chrono::milliseconds(5000);
// How long a stop waits for the output still in the pipe to reach the log.
constexpr auto kLogSettle = std::chrono::milliseconds(500);
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

// Ends every process that carries this run's token in its environment: what the backend
// started and left behind, wherever it went. The shell's own web processes never carry it.
void killDescendants(const std::string& token) {
  const std::string marker = "BRIVOK_DESKTOP_TOKEN=" + token;
  const pid_t self = getpid();
  const uid_t uid = getuid();
  // A process may fork while the last one is ended: look again until none is left.
  for (int round = 0; round < 8; ++round) {
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    if (!proc) return;
    while (dirent* entry = readdir(proc)) {
      char* end = nullptr;
      const long pid = std::strtol(entry->d_name, &end, 10);
      if (pid <= 0 || *end != '\0' || pid == self) continue;
      const std::string dir = std::string("/proc/") + entry->d_name;
      struct stat st {};
      if (stat(dir.c_str(), &st) != 0 || st.st_uid != uid) continue;
      const int fd = open((dir + "/environ").c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      std::string environ;
      char buffer[8192];
      ssize_t n;
      while ((n = read(fd, buffer, sizeof buffer)) > 0) environ.append(buffer, n);
      close(fd);
      // Entries are separated by NUL; match a whole entry.
      for (std::size_t at = environ.find(marker); at != std::string::npos;
           at = environ.find(marker, at + 1)) {
        const std::size_t after = at + marker.size();
        if ((at == 0 || environ[at - 1] == '\0') &&
            (after == environ.size() || environ[after] == '\0')) {
          found.push_back(static_cast<pid_t>(pid));
          break;
        }
      }
    }
    closedir(proc);
    if (found.empty()) return;
    for (const pid_t pid : found) kill(pid, SIGKILL);
    // Those that came back to the shell are its children now: collect them.
    for (const pid_t pid : found) {
      while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
  }
}

// Everything the child needs, prepared before the fork: after it, the child may only make
// async-signal-safe calls.
struct ChildSetup {
  const char* path;
  char* const* argv;
  char* const* envp;
  int stdoutFd;
  int logFd;  // -1: standard error goes to /dev/null
  const char* home;
  pid_t parent;
  std::optional<mode_t> umask;
};

// Closes every descriptor from `lowest` on but `keep`, in the forked child (so only
// async-signal-safe calls). close_range may be missing or refused by a container's seccomp
// filter; then the open descriptors are read from /proc, and failing that, closed one by one.
void closeDescriptorsFrom(int lowest, int keep) {
  const auto closeRange = [](int first, int last) {
    return first > last || syscall(SYS_close_range, static_cast<unsigned>(first),
                                   static_cast<unsigned>(last), 0u) == 0;
  };
  if (keep < lowest) keep = lowest - 1;
  if (closeRange(lowest, keep - 1) && closeRange(keep + 1, INT_MAX)) return;
  const int dir = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    alignas(8) char buffer[4096];
    for (;;) {
      const long n = syscall(SYS_getdents64, dir, buffer, sizeof buffer);
      if (n <= 0) break;
      for (long at = 0; at < n;) {
        const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
        at += entry->d_reclen;
        int fd = 0;
        const char* c = entry->d_name;
        if (*c < '0' || *c > '9') continue;
        for (; *c >= '0' && *c <= '9' && fd < INT_MAX / 10; ++c) fd = fd * 10 + (*c - '0');
        if (fd >= lowest && fd != keep && fd != dir) close(fd);
      }
    }
    close(dir);
    return;
  }
  struct rlimit limit {};
  rlim_t last = 65536;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
    last = std::min<rlim_t>(limit.rlim_cur, 1 << 20);
  for (int fd = lowest; fd < static_cast<int>(last); ++fd) {
    if (fd != keep) close(fd);
  }
}

[[noreturn]] void failChild(int errorFd, int error) {
  [[maybe_unused]] auto n = write(errorFd, &error, sizeof error);
  _exit(127);
}

[[noreturn]] void runChild(const ChildSetup& s, int errorFd) {
  const auto fail = [errorFd](int error) { failChild(errorFd, error); };
  // Signals the shell handles, ignores or blocks start out at their defaults in the backend,
  // or SIGTERM would not end it.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig != SIGKILL && sig != SIGSTOP) sigaction(sig, &dfl, nullptr);
  }
  // Its own process group, which stop() signals as a whole.
  if (setpgid(0, 0) != 0) fail(errno);
  // The kernel ends the backend when the shell dies, however it dies; a shell that died
  // before this line leaves no one to wait for.
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) fail(errno);
  if (getppid() != s.parent) _exit(127);
  const int null = open("/dev/null", O_RDWR);
  if (null < 0) fail(errno);
  if (dup2(null, 0) < 0 || dup2(s.stdoutFd, 1) < 0 || dup2(s.logFd >= 0 ? s.logFd : null, 2) < 0)
    fail(errno);
  if (chdir(s.home) != 0) fail(errno);
  // No other descriptor of the shell reaches the backend; the error pipe closes on exec.
  closeDescriptorsFrom(3, errorFd);
  if (s.umask) umask(*s.umask);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execve(s.path, s.argv, s.envp);
  failChild(errorFd, errno);
}

// Starts the child and waits until it runs the interpreter; 0, or the error that stopped it.
int spawnChild(const ChildSetup& setup, pid_t& child) {
  int errorPipe[2];
  if (pipe2(errorPipe, O_CLOEXEC) != 0) return errno;
  // No handler of the shell may run in the child before it has reset them.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  const pid_t pid = fork();
  if (pid == 0) runChild(setup, errorPipe[1]);
  const int forkError = errno;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  close(errorPipe[1]);
  if (pid < 0) {
    close(errorPipe[0]);
    return forkError;
  }
  int error = 0;
  ssize_t n;
  do {
    n = read(errorPipe[0], &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  close(errorPipe[0]);
  if (n == sizeof error) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return error ? error : ECHILD;
  }
  child = pid;
  return 0;
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
  // The launcher's startup notice is the shell's window's; a program the backend opens must
  // not take it.
  env.erase("DESKTOP_STARTUP_ID");
  env.erase("XDG_ACTIVATION_TOKEN");
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
  const int logFd = freshLogFile(logPath());
  // Orphans of the backend (daemons that left its process group) come back to the shell
  // rather than to init, so stop() can still find and end them.
  prctl(PR_SET_CHILD_SUBREAPER, 1);

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
  if (!ended) reap(child);
  killDescendants(token_);
  if (pidfd >= 0) close(pidfd);
  // Its last words reach the log before the shell may end.
  if (reader_) reader_->awaitEnd(kLogSettle);
}

}  // namespace brivok
