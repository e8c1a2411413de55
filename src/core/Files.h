#pragma once

#include <map>
#include <string>

namespace brivok {

// The process's environment as a map of names to values.
std::map<std::string, std::string> processEnvironment();

// Creates `dir` and its missing parents with mode 0700; errors are ignored.
void makeDirectories(const std::string& dir);

// Writes `contents` to `path` so that a reader sees either the old file or the whole new one:
// a temporary file in the same folder, flushed to disk, renamed over the target. Mode 0600.
bool writeFileAtomically(const std::string& path, const std::string& contents);

}  // namespace brivok
