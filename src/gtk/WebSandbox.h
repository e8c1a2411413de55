#pragma once

namespace brivok {

// Whether the web engine's sandbox (bubblewrap: its own mount, pid and network namespaces, no
// home folder) can start on this machine. The engine itself ends the whole application when a
// sandboxed web process cannot start, so the answer must be known before the first web view
// is made: the same launch is tried once, ahead, in a child of its own.

// Starts the check, once; cheap to call again. Best called early, so it runs alongside the
// toolkit's own start.
void startWebSandboxCheck();
// The check's answer, waiting for it (and starting it) if need be. The same for the whole run.
bool webSandboxAvailable();

inline constexpr const char* kNoSandboxNotice =
    "Web pages run without the web engine's sandbox, which cannot start on this system (it "
    "needs bubblewrap and user namespaces).";

}  // namespace brivok
