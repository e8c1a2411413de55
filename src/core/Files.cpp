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

void makePrivate(const char* path, const struct stat& st) {
  if (st.st_uid != getuid()) return;
  if (S_ISDIR(st.st_mode) && (st.st_mode & 07777) != 0700) chmod(path, 0700);
  if (S_ISREG(st.st_mode) && (st.st_mode & 07777) != 0600) chmod(path, 0600);
}

}  // namespace

int makeUserDirectories(const std::string& dir, mode_t umask) {
  for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    if (mkdir(dir.substr(0, pos).c_str(), 0777 & ~umask) != 0 && errno != EEXIST) return errno;
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
