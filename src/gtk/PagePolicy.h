#pragma once

#include <webkit2/webkit2.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace brivok {

// What governs a web view of the main window. It belongs to the view and lives exactly as
// long as it; its address is the data of every handler it connects.
struct ViewGovernor {
  std::string insideDomain;  // hosts under it stay in the view (the secondary site's view)
  std::function<void(const std::string& url)> openOutside;
  // The main view: frames of other origins may not take it elsewhere unasked.
  bool guardTop = false;
  std::vector<std::string> homeOrigins;
  std::string shownOrigin;  // the origin of the document the main frame shows
  // Who started the latest navigations, by address: the engine tells it at the navigation,
  // but which frame a navigation is for only at its response.
  struct Start {
    std::string url;
    std::string initiator;
    bool byUser = false;
  };
  std::deque<Start> started;
};

// Governs a web view of the main window: what it may load in place (addresses outside go to
// `openOutside` or nowhere; hosts of `insideDomain`, when given, stay), and the page's alert,
// confirm, prompt and file input as dialogs on the window that holds the view.
ViewGovernor* governView(WebKitWebView* view, std::string insideDomain,
                         std::function<void(const std::string& url)> openOutside,
                         bool guardTop = false);

// Leaves out of the view's context menu the items that would save to disk: the shell takes no
// downloads, so they would do nothing.
void withoutDownloadItems(WebKitWebView* view);

// Answers a page's alert, confirm or prompt from a dialog on `parent` and returns at once;
// the engine gets the answer when the dialog closes. A modal dialog holds the window.
void showScriptDialog(GtkWindow* parent, WebKitScriptDialog* dialog, bool modal);

// A sign-in window's page dialog: an alert is shown on `window` and not modal, so the rest of
// the shell goes on; anything else, and anything once the window is `closing`, is answered at
// once.
void showSignInDialog(GtkWindow* window, WebKitScriptDialog* dialog, bool closing);

}  // namespace brivok
