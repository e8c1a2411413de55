#include "backend/Descendants.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace brivok {
namespace {

// Whether the process still runs: a zombie has ended, whoever collects it.
bool stillRuns(pid_t pid) {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[512];
  const ssize_t n = read(fd, buffer, sizeof buffer - 1);
  close(fd);
  if (n <= 0) return false;
  buffer[n] = '\0';
  // The state follows the name, which is in parentheses and may hold anything.
  const char* close = std::strrchr(buffer, ')');
  if (!close || close[1] != ' ') return false;
  return close[2] != 'Z' && close[2] != 'X';
}

}  // namespace

void killDescendants(const std::string& token) {
  std::vector<pid_t> killed;
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
    if (found.empty()) break;
    for (const pid_t pid : found) kill(pid, SIGKILL);
    // Those that came back to the shell are its children now: collect them.
    for (const pid_t pid : found) {
      while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    killed.insert(killed.end(), found.begin(), found.end());
  }
  // A killed process stops showing its environment while it is still exiting; return only
  // when it is gone, so nothing of the backend's outlives the stop. Bounded: one stuck in
  // the kernel must not hold the shell's quit.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (const pid_t pid : killed) {
    while (stillRuns(pid) && std::chrono::steady_clock::now() < deadline) usleep(2000);
  }
}

}  // namespace brivok
