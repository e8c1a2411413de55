#pragma once

#include <webkit2/webkit2.h>

#include <string>

namespace brivok {

// Every web context of the shell is made here, and none of them ever writes a download: no
// page, shown or not, puts a file on the user's disk (a response no view can show, a
// `download` link, a blob or data: address all end before a byte is written).

// Every context runs its web processes in the engine's sandbox where this machine allows it.
// Those of pages no one watches (`limitMemory`) also have a memory limit each: one that goes
// past it is ended, as a crash would end it.

// A context whose website data lives under `dataDir` (cookies in an SQLite jar there, so
// they outlive the process) and whose caches live under `cacheDir`. The caller owns it.
WebKitWebContext* newPersistentContext(const std::string& dataDir, const std::string& cacheDir,
                                       bool limitMemory = false);
// A context that keeps nothing once it is let go. The caller owns it.
WebKitWebContext* newEphemeralContext();

// Loads of this machine's addresses in `context` never go through a proxy, whatever the
// environment or the desktop says; every other address follows the user's proxy settings.
void keepLoopbackDirect(WebKitWebContext* context);

// The memory limit of each web process of pages no one watches, in MiB: the smaller of 2 GiB
// and a quarter of this machine's memory.
unsigned unwatchedMemoryLimitMiB();

}  // namespace brivok
