#include "gtk/WebProcessWatch.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace brivok {
namespace {

// The kernel's name of the engine's web processes (15 characters at most).
constexpr const char* kWebProcessName = "WebKitWebProces";
constexpr guint kCheckMs = 250;
constexpr int kFindEvery = 4;  // looks for new web processes once a second

struct Watch {
  std::size_t limit = 0;
  std::vector<pid_t> known;  // this shell's web processes, as last found
  int ticks = 0;
};

std::string readSmall(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  char buffer[512];
  const ssize_t n = read(fd, buffer, sizeof buffer - 1);
  close(fd);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// The name and parent of a process, from /proc/<pid>/stat: "pid (name) state ppid …", where
// the name may itself hold spaces and parentheses.
bool nameAndParent(pid_t pid, std::string& name, pid_t& parent) {
  const std::string stat = readSmall("/proc/" + std::to_string(pid) + "/stat");
  const auto open = stat.find('(');
  const auto close = stat.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  name = stat.substr(open + 1, close - open - 1);
  char state = 0;
  int ppid = 0;
  if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) != 2) return false;
  parent = ppid;
  return true;
}

}  // namespace

std::vector<pid_t> ownWebProcesses() {
  std::map<pid_t, std::pair<std::string, pid_t>> all;
  if (DIR* proc = opendir("/proc")) {
    while (dirent* entry = readdir(proc)) {
      char* end = nullptr;
      const long pid = std::strtol(entry->d_name, &end, 10);
      if (pid <= 0 || *end != '\0') continue;
      std::string name;
      pid_t parent = 0;
      if (nameAndParent(static_cast<pid_t>(pid), name, parent)) {
        all[static_cast<pid_t>(pid)] = {name, parent};
      }
    }
    closedir(proc);
  }
  const pid_t self = getpid();
  std::vector<pid_t> out;
  for (const auto& [pid, info] : all) {
    if (info.first != kWebProcessName) continue;
    // Ours only: the shell is an ancestor (the sandbox puts a launcher in between).
    pid_t up = info.second;
    for (int depth = 0; depth < 8 && up > 1 && up != self; ++depth) {
      const auto it = all.find(up);
      up = it == all.end() ? 0 : it->second.second;
    }
    if (up == self) out.push_back(pid);
  }
  return out;
}

namespace {

std::size_t residentBytes(pid_t pid) {
  const std::string statm = readSmall("/proc/" + std::to_string(pid) + "/statm");
  unsigned long size = 0, resident = 0;
  if (std::sscanf(statm.c_str(), "%lu %lu", &size, &resident) != 2) return 0;
  return static_cast<std::size_t>(resident) * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// Ends the process by a handle on it, checked again to be one of the shell's web processes:
// a number set free and taken again never reaches a stranger.
void end(pid_t pid) {
  const int handle = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (handle < 0) return;
  std::string name;
  pid_t parent = 0;
  if (nameAndParent(pid, name, parent) && name == kWebProcessName) {
    syscall(SYS_pidfd_send_signal, handle, SIGKILL, nullptr, 0);
  }
  close(handle);
}

gboolean check(gpointer data) {
  auto* watch = static_cast<Watch*>(data);
  if (watch->ticks++ % kFindEvery == 0) watch->known = ownWebProcesses();
  for (const pid_t pid : watch->known) {
    if (residentBytes(pid) > watch->limit) end(pid);
  }
  return G_SOURCE_CONTINUE;
}

}  // namespace

void watchWebProcessMemory(std::size_t limitBytes) {
  static Watch* watch = nullptr;
  if (watch) return;
  watch = new Watch;  // for the whole run
  watch->limit = limitBytes;
  g_timeout_add(kCheckMs, check, watch);
}

}  // namespace brivok
