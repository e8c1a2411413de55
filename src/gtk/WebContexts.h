#pragma once

#include <webkit2/webkit2.h>

#include <string>

namespace brivok {

// A web context whose website data lives under `dataDir` (cookies in an SQLite jar there,
// so they outlive the process) and whose caches live under `cacheDir`. The caller owns it.
WebKitWebContext* newPersistentContext(const std::string& dataDir, const std::string& cacheDir);

}  // namespace brivok
