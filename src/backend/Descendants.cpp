#include "backend/Descendants.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace brivok {

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

}  // namespace brivok
