#pragma once

namespace brivok {

// Follows the desktop's light or dark style, live: the windows, the shell's dialogs and the
// pages' `prefers-color-scheme` with it. GTK 3 does not by itself: the Settings portal says
// which the user chose where one answers (a sandboxed package, a desktop with portals);
// otherwise GNOME's own setting does, when its schema is installed. Call once, with the
// toolkit up.
void followDesktopColorScheme();

}  // namespace brivok
