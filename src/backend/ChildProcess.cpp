#include "backend/ChildProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace brivok {

std::map<std::string, std::string> backendEnvironment(std::map<std::string, std::string> env,
                                                      const std::string& resources,
                                                      const std::string& home,
                                                      const std::string& token, pid_t parent) {
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

namespace {

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

}  // namespace

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

}  // namespace brivok
