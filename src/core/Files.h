#pragma once

#include <sys/types.h>

#include <map>
#include <string>

namespace brivok {

// The process's environment as a map of names to values.
std::map<std::string, std::string> processEnvironment();

// Creates `dir` and its missing parents with mode 0700; errors are ignored.
void makeDirectories(const std::string& dir);

// Creates `dir` and its missing parents as the user's own folders (mode 0777 less `umask`);
// 0 when `dir` is a folder afterwards, else the error that stood in the way.
int makeUserDirectories(const std::string& dir, mode_t umask);

// Creates `dir` and its missing parents, and makes `dir` itself private to the user (mode
// 0700), also when it existed before. A symbolic link or a folder of another user in its
// place is left as it is.
void makePrivateDirectory(const std::string& dir);

// Makes everything under `root` private: folders 0700, files 0600. Links are not followed,
// and only the user's own entries are touched.
void makeTreePrivate(const std::string& root);

// Writes `contents` to `path` so that a reader sees either the old file or the whole new one:
// a temporary file in the same folder, flushed to disk, renamed over the target. Mode 0600.
bool writeFileAtomically(const std::string& path, const std::string& contents);

}  // namespace brivok
