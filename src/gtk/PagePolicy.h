#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <string>

namespace brivok {

// Governs a web view of the main window: what it may load in place (addresses outside go to
// `openOutside` or nowhere; hosts of `insideDomain`, when given, stay), and the page's alert,
// confirm, prompt and file input as dialogs on the window that holds the view. Returns the
// handlers' data, for g_signal_handlers_disconnect_by_data; it lives as long as the view.
gpointer governView(WebKitWebView* view, std::string insideDomain,
                    std::function<void(const std::string& url)> openOutside);

// Leaves out of the view's context menu the items that would save to disk: the shell takes no
// downloads, so they would do nothing.
void withoutDownloadItems(WebKitWebView* view);

// Answers a page's alert, confirm or prompt from a dialog on `parent` and returns at once;
// the engine gets the answer when the dialog closes. A modal dialog holds the window.
void showScriptDialog(GtkWindow* parent, WebKitScriptDialog* dialog, bool modal);

}  // namespace brivok
