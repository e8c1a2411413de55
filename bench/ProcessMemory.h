#pragma once

// Memory figures of this process and the engine processes it starts, from /proc.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace brivok::bench {

// A "Key: value kB" figure of a process's `file` (Pss of smaps_rollup by default), in KiB;
// 0 when it cannot be read.
inline long memoryKiB(int pid, const char* key = "Pss:", const char* file = "smaps_rollup") {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  std::string word;
  long value = 0;
  while (in >> word) {
    if (word == key) {
      in >> value;
      return value;
    }
    in.ignore(1 << 20, '\n');
  }
  return 0;
}

// The running descendants of this process: the engine's processes, also those the sandbox's
// launcher starts.
inline std::set<int> children() {
  std::map<int, int> parents;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    int ppid = 0;
    rest >> state >> ppid;
    parents[std::stoi(name)] = ppid;
  }
  std::set<int> out;
  const int self = getpid();
  for (const auto& [pid, parent] : parents) {
    int up = parent;
    for (int depth = 0; depth < 8 && up > 1 && up != self; ++depth) {
      const auto it = parents.find(up);
      up = it == parents.end() ? 0 : it->second;
    }
    if (up == self) out.insert(pid);
  }
  return out;
}

}  // namespace brivok::bench
