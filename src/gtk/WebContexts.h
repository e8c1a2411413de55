#pragma once

#include <webkit2/webkit2.h>

#include <string>

namespace brivok {

// Every web context of the shell is made here, and none of them ever writes a download: no
// page, shown or not, puts a file on the user's disk (a response no view can show, a
// `download` link, a blob or data: address all end before a byte is written).

// A context whose website data lives under `dataDir` (cookies in an SQLite jar there, so
// they outlive the process) and whose caches live under `cacheDir`. The caller owns it.
WebKitWebContext* newPersistentContext(const std::string& dataDir, const std::string& cacheDir);
// A context that keeps nothing once it is let go. The caller owns it.
WebKitWebContext* newEphemeralContext();

// Loads of this machine's addresses in `context` never go through a proxy, whatever the
// environment or the desktop says; every other address follows the user's proxy settings.
void keepLoopbackDirect(WebKitWebContext* context);

}  // namespace brivok
