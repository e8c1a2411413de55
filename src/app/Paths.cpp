#include "app/Paths.h"

#include "core/Files.h"

#include <vector>

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

namespace brivok {

namespace {

std::string lookup(const std::map<std::string, std::string>& env, const std::string& name) {
  auto it = env.find(name);
  return it == env.end() ? std::string() : it->second;
}

// An XDG variable counts only when it holds an absolute path.
std::string xdgDir(const std::map<std::string, std::string>& env, const std::string& name,
                   const std::string& home, const std::string& fallback) {
  std::string value = lookup(env, name);
  if (value.empty() || value[0] != '/') value = home + "/" + fallback;
  return value + "/brivok";
}

}  // namespace

Paths Paths::from(const std::map<std::string, std::string>& env, const std::string& executable) {
  Paths p;
  p.home = lookup(env, "HOME");
  if (p.home.empty()) {
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) p.home = pw->pw_dir;
  }
  while (p.home.size() > 1 && p.home.back() == '/') p.home.pop_back();
  p.configDir = xdgDir(env, "XDG_CONFIG_HOME", p.home, ".config");
  p.stateDir = xdgDir(env, "XDG_STATE_HOME", p.home, ".local/state");
  p.dataDir = xdgDir(env, "XDG_DATA_HOME", p.home, ".local/share");
  p.cacheDir = xdgDir(env, "XDG_CACHE_HOME", p.home, ".cache");
  std::filesystem::path exe(executable);
  p.resources = (exe.parent_path().parent_path() / "share" / "brivok").lexically_normal().string();
  return p;
}

void Paths::makePrivate() const {
  const std::vector<std::string> dirs = {configDir, stateDir, dataDir, cacheDir};
  for (const auto& dir : dirs) makePrivateDirectory(dir);
  std::thread([dirs] {
    for (const auto& dir : dirs) makeTreePrivate(dir);
  }).detach();
}

Paths Paths::current() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return from(processEnvironment(), ec ? std::string() : exe.string());
}

}  // namespace brivok
