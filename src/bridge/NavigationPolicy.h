#pragma once

#include <string>
#include <vector>

namespace brivok {

// The origins of the backend's own page: the scheme, host and port of its address, where
// 127.0.0.1 and localhost count as one host. Only documents of these origins get the page
// interface and drive the bridge. Empty for an address without a host.
std::vector<std::string> homeOrigins(const std::string& backendUrl);
bool isHomeOrigin(const std::string& origin, const std::vector<std::string>& home);

// What the main view (and the secondary site view) may load in place. The engine tells
// which frame a load is for only once its response arrives, or when a main-frame load fails,
// so outside addresses are decided in stages: at the navigation, at the main frame's response,
// or at the main frame's failed load. Links the user clicks in the main frame are reported by
// the page's own script before the engine acts on them, and handed on without any request.
enum class Navigation {
  Allow,
  Cancel,
  OpenOutside,  // cancel, and hand the address to the desktop
  AtResponse,   // allow for now; decided when the response shows which frame it is for
};

struct NavigationRequest {
  std::string url;
  bool newWindow = false;    // target _blank, window.open: never a frame of this view
  std::string insideDomain;  // the secondary site's domain when asked by that view, else empty
  bool userGesture = false;  // the user clicked or typed for it

  // The main view keeps frames of other origins from taking it elsewhere, as browsers refuse
  // frame-busting: at the main frame's response (or failed load) it tells who started it.
  bool guardTop = false;
  bool byUser = false;      // a click, a key, back or forward, a reload
  std::string initiator;    // the origin of the document that started it; empty: unknown
  std::string shownOrigin;  // the origin of the document the main frame shows
  std::vector<std::string> homeOrigins;
};

Navigation decideNavigation(const NavigationRequest& request);
// For a response of the main frame's main resource (subframes are always allowed), and for a
// main-frame load that failed before any response came (a host that does not answer, an
// address the engine cannot show): outside addresses reach the desktop either way, and the
// page on screen stays. Allow means the engine goes on as it would, error page included.
Navigation decideMainFrameResponse(const NavigationRequest& request);

// What a page no one watches (a render, a sign-in by itself) may load. Nothing of it reaches
// the desktop: an address of another scheme (mailto:, file:) goes nowhere, and a new window
// is refused or, where the page's flow needs one, loaded in the same page.
enum class UnwatchedNavigation { Allow, Refuse, LoadInPlace };
UnwatchedNavigation decideUnwatchedNavigation(const std::string& url, bool newWindow,
                                              bool newWindowsInPlace);
// http or https: an address that must commit as itself.
bool isWebAddress(const std::string& url);

}  // namespace brivok
