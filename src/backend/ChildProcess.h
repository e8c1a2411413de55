#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>

namespace brivok {

// The backend's environment, from the one it inherits: where its code lives, its token, the
// shell's process id, a PATH that finds the usual tools; the launcher's startup notice dropped.
std::map<std::string, std::string> backendEnvironment(std::map<std::string, std::string> inherited,
                                                      const std::string& resources,
                                                      const std::string& home,
                                                      const std::string& token, pid_t parent);

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

// Starts the child in a process group of its own, with default signals, ended by the kernel
// when the shell dies, with only its three standard streams, in `home`; and waits until it
// runs the program. 0 and its id in `child`, or the error that stopped it.
int spawnChild(const ChildSetup& setup, pid_t& child);

// Closes every descriptor from `lowest` on but `keep`, in a forked child (so only
// async-signal-safe calls). close_range may be missing or refused by a container's seccomp
// filter; then the open descriptors are read from /proc, and failing that, closed one by one.
void closeDescriptorsFrom(int lowest, int keep);

}  // namespace brivok
