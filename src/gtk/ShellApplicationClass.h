#pragma once

#include <gtk/gtk.h>

namespace brivok {

// The application's GObject class, there only so the primary instance can act before the
// toolkit starts: `startingAsFirst` runs once the session bus has said this launch is the
// first, and before GTK opens the display.
GtkApplication* newShellApplication(const char* applicationId, void (*startingAsFirst)(gpointer),
                                    gpointer data);

}  // namespace brivok
