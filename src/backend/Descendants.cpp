#include "backend/Descendants.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace brivok {
namespace {

// The fields of /proc/<pid>/stat after the name, which is in parentheses and may hold anything.
std::string statFields(pid_t pid) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  char buffer[1024];
  const ssize_t n = read(fd, buffer, sizeof buffer - 1);
  close(fd);
  if (n <= 0) return {};
  buffer[n] = '\0';
  const char* close = std::strrchr(buffer, ')');
  if (!close || close[1] != ' ') return {};
  return close + 2;
}

// Whether the process still runs: a zombie has ended, whoever collects it.
bool stillRuns(pid_t pid) {
  const std::string fields = statFields(pid);
  return !fields.empty() && fields[0] != 'Z' && fields[0] != 'X';
}

// Whether the process is between two images of an exec: its new image shows no environment
// (nor its place) until it is set up. One that was started with an empty environment shows
// its place; kernel threads and zombies have none and never carry the token.
bool inExec(pid_t pid) {
  constexpr unsigned long kKernelThread = 0x00200000;
  const std::string fields = statFields(pid);
  if (fields.empty() || fields[0] == 'Z' || fields[0] == 'X') return false;
  // From the state on, the flags are the 7th field and the environment's start the 48th.
  unsigned long flags = 0;
  unsigned long long envStart = 1;
  std::size_t at = 0;
  for (int field = 1; field <= 48 && at < fields.size(); ++field) {
    const std::size_t end = std::min(fields.find(' ', at), fields.size());
    const std::string value = fields.substr(at, end - at);
    if (field == 7) flags = std::strtoul(value.c_str(), nullptr, 10);
    if (field == 48) envStart = std::strtoull(value.c_str(), nullptr, 10);
    at = end + 1;
  }
  return (flags & kKernelThread) == 0 && envStart == 0;
}

enum class Carries { Token, Not, Unknown };

// A process held by a pidfd where the kernel has them; by its number where it has not.
class ProcessHandle {
 public:
  explicit ProcessHandle(pid_t pid)
      : pid_(pid), fd_(static_cast<int>(syscall(SYS_pidfd_open, pid, 0))), why_(errno) {}
  ~ProcessHandle() {
    if (fd_ >= 0) close(fd_);
  }
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;
  void kill() const {
    if (fd_ >= 0) {
      syscall(SYS_pidfd_send_signal, fd_, SIGKILL, nullptr, 0);
    } else if (why_ != ESRCH) {
      ::kill(pid_, SIGKILL);  // a kernel without pidfds: by number, as before them
    }
  }

 private:
  pid_t pid_;
  int fd_;
  int why_;  // why there is no pidfd
};

// The environment as the process shows it; nothing when it may not be read.
std::optional<std::string> readEnviron(const std::string& dir) {
  const int fd = open((dir + "/environ").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string environ;
  char buffer[8192];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) environ.append(buffer, n);
  close(fd);
  if (n < 0) return std::nullopt;
  return environ;
}

Carries carriesToken(const std::string& dir, pid_t pid, const std::string& marker) {
  std::optional<std::string> read = readEnviron(dir);
  // An empty read may have met an exec that ended before its state was read: read again, as
  // one truly started with no environment stays empty.
  for (int again = 0; read && read->empty() && again < 3; ++again) {
    if (inExec(pid)) return Carries::Unknown;
    read = readEnviron(dir);
  }
  if (!read || read->empty()) return Carries::Not;
  const std::string& environ = *read;
  // Entries are separated by NUL; match a whole entry.
  for (std::size_t at = environ.find(marker); at != std::string::npos;
       at = environ.find(marker, at + 1)) {
    const std::size_t after = at + marker.size();
    if ((at == 0 || environ[at - 1] == '\0') &&
        (after == environ.size() || environ[after] == '\0')) {
      return Carries::Token;
    }
  }
  return Carries::Not;
}

}  // namespace

void killDescendants(const std::string& token) {
  std::vector<pid_t> killed;
  const std::string marker = "BRIVOK_DESKTOP_TOKEN=" + token;
  const pid_t self = getpid();
  const uid_t uid = getuid();
  // A process may fork while the last one is ended, or be caught in an exec: look again until
  // none is left and none was in doubt. Bounded both ways: an exec held up in the kernel must
  // not hold the shell's quit.
  const auto doubtLimit = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  for (int rounds = 0; rounds < 8;) {
    std::vector<pid_t> found;
    bool doubt = false;
    DIR* proc = opendir("/proc");
    if (!proc) return;
    while (dirent* entry = readdir(proc)) {
      char* end = nullptr;
      const long pid = std::strtol(entry->d_name, &end, 10);
      if (pid <= 0 || *end != '\0' || pid == self) continue;
      const std::string dir = std::string("/proc/") + entry->d_name;
      struct stat st {};
      if (stat(dir.c_str(), &st) != 0 || st.st_uid != uid) continue;
      // A handle first, the environment after: should the number be set free and taken again
      // meanwhile, the handle still names the process whose environment was read, or one
      // that is gone, never a stranger.
      ProcessHandle handle(static_cast<pid_t>(pid));
      switch (carriesToken(dir, static_cast<pid_t>(pid), marker)) {
        case Carries::Token:
          handle.kill();
          found.push_back(static_cast<pid_t>(pid));
          break;
        case Carries::Unknown:
          doubt = true;
          break;
        case Carries::Not:
          break;
      }
    }
    closedir(proc);
    if (found.empty()) {
      if (!doubt || std::chrono::steady_clock::now() > doubtLimit) break;
      usleep(1000);
      continue;
    }
    ++rounds;
    killed.insert(killed.end(), found.begin(), found.end());
  }
  // A killed process stops showing its environment while it is still exiting; return only
  // when it is gone (those that came back to the shell are its children now, and are
  // collected), so nothing of the backend's outlives the stop. Bounded: one stuck in the
  // kernel must not hold the shell's quit.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (const pid_t pid : killed) {
    while (std::chrono::steady_clock::now() < deadline) {
      if (waitpid(pid, nullptr, WNOHANG) == pid || !stillRuns(pid)) break;
      usleep(2000);
    }
  }
}

}  // namespace brivok
