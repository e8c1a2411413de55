#pragma once

#include <webkit2/webkit2.h>

namespace brivok {

// Pages no one watches: never-shown pages, and pages of a sign-in window that is closing.
// Nothing of them may wait for a person, who is not there to answer.

// Answers a page's dialog at once: an alert returns, a confirm says no, a prompt gives null,
// and leaving a page is never held up. (Unanswered, a dialog would block the page's scripts
// for good.)
void answerUnwatched(WebKitScriptDialog* dialog);

// A page's file chooser, refused ("run-file-chooser").
gboolean refuseFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer);

// Governs a view that is never shown: dialogs answered at once; file choosers, permissions,
// printing, menus, colour choosers, full screen and notifications refused; credentials never
// asked for; what it may load as decideUnwatchedNavigation says; and a response it cannot
// show fails its load instead of becoming a download.
void governUnwatchedView(WebKitWebView* view, bool newWindowsInPlace);

}  // namespace brivok
