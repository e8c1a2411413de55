#include <sys/stat.h>

#include "gtk/Application.h"

int main() {
  // One name everywhere: the application, its desktop entry and icon, and the windows'
  // class, so a dock groups the windows under the launcher entry.
  g_set_prgname(brivok::Application::kApplicationId);
  gdk_set_program_class(brivok::Application::kApplicationId);
  // What the shell and its web engine write is private to the user whatever the umask; the
  // backend gets the umask it was given.
  const mode_t inherited = umask(077);
  auto paths = brivok::Paths::current();
  paths.makePrivate();
  brivok::Application application(std::move(paths), inherited);
  return application.run();
}
