#pragma once

#include <sys/types.h>

#include <cstddef>
#include <vector>

namespace brivok {

// Holds every web process of the shell to a memory limit. The engine's own limit is measured
// on the page's main thread, which a page whose script never yields holds for good: such a
// page would take memory until the machine runs out. So the shell looks at its web processes'
// resident memory four times a second and ends the one past the limit, as a crash would; its
// view then hears "web-process-terminated" and ends its job or loads its page again.
// Started once, for the rest of the run, on the main loop.
void watchWebProcessMemory(std::size_t limitBytes);

// The engine's web processes this process started (the sandbox puts a launcher in between).
std::vector<pid_t> ownWebProcesses();

}  // namespace brivok
