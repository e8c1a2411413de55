#pragma once

#include <map>
#include <string>

namespace brivok {

// Where the shell keeps and finds its files, after the XDG base directory rules.
struct Paths {
  std::string home;
  std::string configDir;  // $XDG_CONFIG_HOME/brivok
  std::string stateDir;   // $XDG_STATE_HOME/brivok
  std::string dataDir;    // $XDG_DATA_HOME/brivok
  std::string cacheDir;   // $XDG_CACHE_HOME/brivok
  std::string resources;  // RES: <directory of the executable>/../share/brivok

  std::string settingsFile() const { return configDir + "/settings.json"; }
  std::string logFile() const { return stateDir + "/backend.log"; }

  // Everything the shell and its web engine keep (settings, log, website stores, caches) is
  // the user's alone: the four folders become 0700 at once, and whatever an earlier run left
  // in them (folders 0700, files 0600) on a thread of its own, since caches can be large.
  void makePrivate() const;

  // From an environment (name to value) and the executable's own path.
  static Paths from(const std::map<std::string, std::string>& environment,
                    const std::string& executable);
  // From the process's environment and /proc/self/exe.
  static Paths current();
};

}  // namespace brivok
