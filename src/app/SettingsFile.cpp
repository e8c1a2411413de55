#include "app/SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "core/Files.h"
#include "core/Json.h"

namespace brivok {

namespace {

constexpr std::size_t kMaxSettingsBytes = 4 * 1024 * 1024;

// Reads the whole file; false when it exists but cannot be read as the user's own regular
// file of a sane size. Never blocks: a FIFO or a device in its place is refused, not opened
// for reading, and a symbolic link is not followed.
bool readAll(const std::string& path, std::string& out, bool& missing) {
  missing = false;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    missing = errno == ENOENT;
    return false;
  }
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == getuid() &&
            static_cast<std::size_t>(st.st_size) <= kMaxSettingsBytes;
  char buffer[16384];
  while (ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) break;
    if (n < 0 || out.size() + static_cast<std::size_t>(n) > kMaxSettingsBytes) {
      ok = false;
    } else {
      out.append(buffer, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  return ok;
}

}  // namespace

SettingsFile::State SettingsFile::load(nlohmann::json& object) const {
  std::string text;
  bool missing = false;
  if (!readAll(path_, text, missing)) return missing ? State::Missing : State::Unreadable;
  auto parsed = parseJsonObject(text, kMaxSettingsBytes);
  if (!parsed) return State::Unreadable;
  object = std::move(*parsed);
  return State::Valid;
}

std::optional<nlohmann::json> SettingsFile::read(const std::string& key) const {
  nlohmann::json object;
  if (load(object) != State::Valid) return std::nullopt;
  auto it = object.find(key);
  if (it == object.end()) return std::nullopt;
  return *it;
}

bool SettingsFile::write(const std::string& key, const nlohmann::json& value) {
  nlohmann::json object;
  switch (load(object)) {
    case State::Valid:
      break;
    case State::Missing:
      object = nlohmann::json::object();
      break;
    case State::Unreadable: {
      // Keep what the user had, in case it matters to them; start afresh beside it.
      const std::string aside = path_ + ".corrupt-" + std::to_string(std::time(nullptr));
      if (rename(path_.c_str(), aside.c_str()) != 0 && errno != ENOENT) return false;
      object = nlohmann::json::object();
      break;
    }
  }
  object[key] = value;
  // Replace invalid UTF-8 rather than fail: nothing the page sends should make saving throw.
  const std::string text =
      object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  return writeFileAtomically(path_, text);
}

}  // namespace brivok
