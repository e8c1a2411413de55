#pragma once

// Memory figures of this process and the engine processes it starts, from /proc.
#include <unistd.h>

#include <filesystem>
#include <fstream>
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

// The running children of this process.
inline std::set<int> children() {
  std::set<int> out;
  const int self = getpid();
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
    if (ppid == self) out.insert(std::stoi(name));
  }
  return out;
}

}  // namespace brivok::bench
