#include <sys/stat.h>

#include "gtk/Application.h"

int main() {
  // What the shell and its web engine write is private to the user whatever the umask; the
  // backend gets the umask it was given.
  const mode_t inherited = umask(077);
  auto paths = brivok::Paths::current();
  paths.makePrivate();
  brivok::Application application(std::move(paths), inherited);
  return application.run();
}
