#include "app/CliInstaller.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/Files.h"

namespace brivok::cli {

std::string script(const std::string& resources) {
  std::string quoted;
  for (const char c : resources) {
    if (c == '"' || c == '$' || c == '`' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return "#!/bin/sh\n# Installed by Brivok.app \xE2\x80\x94 runs the CLI with the app's bundled "
         "Python.\nRES=\"" +
         quoted +
         "\"\nPYTHONPATH=\"$RES/app:$RES/site-packages\" exec \"$RES/python/bin/python3\" -m "
         "brivok_cli.main \"$@\"";
}

namespace {

Outcome failed(const std::string& what, const std::string& path, int error) {
  return {false, kFailureMessage, what + " " + path + ": " + std::strerror(error) + "."};
}

}  // namespace

Outcome install(const std::string& home, const std::string& resources, mode_t umask) {
  const std::string folder = home + "/.local/bin";
  const std::string target = folder + "/brivok";
  if (const int error = makeUserDirectories(folder, umask)) {
    return failed("Could not create the folder", folder, error);
  }
  const std::string text = script(resources);
  std::string temp = target + ".XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return failed("Could not write", target, errno);
  std::size_t done = 0;
  int error = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (!error && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && !error) error = errno;
  if (!error && rename(temp.c_str(), target.c_str()) != 0) error = errno;
  if (error) {
    unlink(temp.c_str());
    return failed("Could not write", target, error);
  }
  if (chmod(target.c_str(), 0755) != 0) return failed("Could not make executable", target, errno);
  return {true, kSuccessMessage, target + kPathReminder};
}

}  // namespace brivok::cli
