#pragma once

#include <sys/types.h>

#include <string>

namespace brivok {

// The "brivok" command in ~/.local/bin: a small shell script that runs the backend's own
// command-line entry with the interpreter and packages in the app's resources.
namespace cli {

inline constexpr const char* kSuccessMessage = "Installed the brivok command";
inline constexpr const char* kFailureMessage = "Could not install the command-line tool";
inline constexpr const char* kPathReminder =
    "\n\nMake sure ~/.local/bin is on your PATH, then run `brivok` in Terminal.";

// The script for a resources folder. The path goes between double quotes with the four
// characters the shell reads specially there (" $ ` \) escaped, so any install path works.
std::string script(const std::string& resources);

struct Outcome {
  bool ok = false;
  std::string message;  // the alert's text
  std::string detail;   // its informative text
};

// Writes the script to HOME/.local/bin/brivok (folders made as needed with the user's own
// `umask`), atomically, mode 0755. Replaces whatever script was there.
Outcome install(const std::string& home, const std::string& resources, mode_t umask);

}  // namespace cli
}  // namespace brivok
