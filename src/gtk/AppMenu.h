#pragma once

#include <gtk/gtk.h>

#include <functional>

namespace brivok {

// What the menu bar asks of the application beyond the toolkit's own commands.
struct MenuCommands {
  std::function<void()> installCli;
  std::function<void()> openHome;
  std::function<void()> openLog;
  std::function<void()> reload;
  std::function<void()> quit;
};

// Builds the menu bar on `app` once, with its actions and shortcuts. The edit and window
// commands act on whatever has the focus, in every window of the shell: the web view of the
// main window, of the secondary site, of a sign-in window or its popup (through the engine's
// editing commands), or an entry of one of the shell's own dialogs. Cut, copy, paste and
// select all keep their keys in the focused widget, which handles them itself.
void installMenu(GtkApplication* app, MenuCommands commands);

}  // namespace brivok
