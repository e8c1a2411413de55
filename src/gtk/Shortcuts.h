#pragma once

#include <gtk/gtk.h>

namespace brivok {

// The application's keyboard shortcuts (quit, close, undo…) work in the window too, a dialog
// of the shell's included, as they do in its main window.
inline void carryShortcuts(GtkWindow* window) {
  GApplication* app = g_application_get_default();
  if (app && GTK_IS_APPLICATION(app)) gtk_window_set_application(window, GTK_APPLICATION(app));
}

}  // namespace brivok
