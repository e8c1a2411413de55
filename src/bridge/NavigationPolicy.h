#pragma once

#include <string>

namespace brivok {

// What the main view (and the secondary site view) may load in place. The engine tells
// which frame a load is for only once its response arrives, so the decision comes in two
// stages: at the navigation, and for http(s) addresses outside, at the main-frame response.
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
};

Navigation decideNavigation(const NavigationRequest& request);
// For a response of the main frame's main resource (subframes are always allowed).
Navigation decideMainFrameResponse(const NavigationRequest& request);

}  // namespace brivok
