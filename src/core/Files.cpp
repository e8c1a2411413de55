#include "core/Files.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

extern char** environ;

namespace brivok {

std::map<std::string, std::string> processEnvironment() {
  std::map<std::string, std::string> env;
  for (char** e = environ; e && *e; ++e) {
    std::string_view entry(*e);
    const auto eq = entry.find('=');
    if (eq == std::string_view::npos || eq == 0) continue;
    env.emplace(std::string(entry.substr(0, eq)), std::string(entry.substr(eq + 1)));
  }
  return env;
}

void makeDirectories(const std::string& dir) {
  for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos == dir.size() || dir[pos] == '/') mkdir(dir.substr(0, pos).c_str(), 0700);
  }
}

namespace {

// Works on what was opened, not on the path again: a file swapped in after the walk saw it
// is never touched. A file with other links is someone else's too; its mode stays.
void makePrivate(const char* path, const struct stat& seen) {
  if (seen.st_uid != getuid()) return;
  const bool dir = S_ISDIR(seen.st_mode);
  if (!dir && !S_ISREG(seen.st_mode)) return;
  const mode_t wanted = dir ? 0700 : 0600;
  if ((seen.st_mode & 07777) == wanted) return;
  const int fd = open(
      path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (dir ? O_DIRECTORY : 0));
  if (fd < 0) return;
  struct stat st {};
  if (fstat(fd, &st) == 0 && st.st_uid == getuid() && st.st_ino == seen.st_ino &&
      st.st_dev == seen.st_dev &&
      (dir ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode) && st.st_nlink == 1)) {
    fchmod(fd, wanted);
  }
  close(fd);
}

}  // namespace

int makeUserDirectories(const std::string& dir, mode_t umask) {
  for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    const std::string made = dir.substr(0, pos);
    if (mkdir(made.c_str(), 0777 & ~umask) != 0) {
      if (errno == EEXIST) continue;
      return errno;
    }
    // The shell's own umask narrowed what mkdir made; a new folder gets the user's mode.
    const int fd = open(made.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      fchmod(fd, 0777 & ~umask);
      close(fd);
    }
  }
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

void makePrivateDirectory(const std::string& dir) {
  makeDirectories(dir);
  struct stat st {};
  if (lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) makePrivate(dir.c_str(), st);
}

void makeTreePrivate(const std::string& root) {
  nftw(
      root.c_str(),
      [](const char* path, const struct stat* st, int type, struct FTW*) {
        if (type == FTW_D || type == FTW_F) makePrivate(path, *st);
        return 0;
      },
      16, FTW_PHYS | FTW_MOUNT);
}

bool writeFileAtomically(const std::string& path, const std::string& contents) {
  const auto slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) makeDirectories(path.substr(0, slash));
  std::string temp = path + ".XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  fchmod(fd, 0600);
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<std::size_t>(n);
  }
  if (ok && fsync(fd) != 0) ok = false;
  if (close(fd) != 0) ok = false;
  if (ok && rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) unlink(temp.c_str());
  return ok;
}

}  // namespace brivok
