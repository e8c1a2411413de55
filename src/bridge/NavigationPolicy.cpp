#include "bridge/NavigationPolicy.h"

#include <algorithm>

#include "core/Url.h"

namespace brivok {
namespace {

bool inside(const Url& url, const std::string& domain) {
  if (isLoopbackHost(url.host)) return true;
  return !domain.empty() && isDomainOrSubdomain(url.host, domain);
}

// A navigation of the main frame that the user did not ask for may come only from the
// document on screen (or a frame of its own origin). One whose starter is unknown (the shell's
// own loads, or a referrer the page withheld) may only go to the backend's page.
bool startedByShownPage(const NavigationRequest& request, const Url& url) {
  if (request.byUser) return true;
  if (request.initiator.empty()) return isHomeOrigin(url.origin(), request.homeOrigins);
  if (request.initiator == request.shownOrigin) return true;
  return isHomeOrigin(request.initiator, request.homeOrigins) &&
         isHomeOrigin(request.shownOrigin, request.homeOrigins);
}

Navigation outside(const std::string& scheme) {
  if (scheme == "http" || scheme == "https" || scheme == "mailto") return Navigation::OpenOutside;
  return Navigation::Cancel;
}

}  // namespace

Navigation decideNavigation(const NavigationRequest& request) {
  const auto url = Url::parse(request.url);
  if (request.url.empty() || !url) return Navigation::Cancel;
  const std::string scheme = asciiLower(url->scheme);
  if (scheme == "about") return Navigation::Allow;
  if (inside(*url, request.insideDomain)) return Navigation::Allow;
  if (request.newWindow) return outside(scheme);
  // A frame of the page may load anything; which frame this is shows at the response, or,
  // for an address that never gets one (mailto:), at the main frame's failed load. A frame
  // the user clicked in may hand its mail link on at once.
  if (scheme == "mailto" && request.userGesture) return Navigation::OpenOutside;
  return Navigation::AtResponse;
}

Navigation decideMainFrameResponse(const NavigationRequest& request) {
  const auto url = Url::parse(request.url);
  if (!url) return Navigation::Cancel;
  const std::string scheme = asciiLower(url->scheme);
  if (scheme == "about") return Navigation::Allow;
  if (request.guardTop && !startedByShownPage(request, *url)) return Navigation::Cancel;
  if (inside(*url, request.insideDomain)) return Navigation::Allow;
  return outside(scheme);
}

std::vector<std::string> homeOrigins(const std::string& backendUrl) {
  const auto url = Url::parse(backendUrl);
  if (!url || url->host.empty()) return {};
  const std::string origin = url->origin();
  if (!isLoopbackHost(asciiLower(url->host))) return {origin};
  Url other = *url;
  other.host = asciiLower(url->host) == "localhost" ? "127.0.0.1" : "localhost";
  return {origin, other.origin()};
}

bool isHomeOrigin(const std::string& origin, const std::vector<std::string>& home) {
  return !origin.empty() && std::find(home.begin(), home.end(), origin) != home.end();
}

bool isWebAddress(const std::string& url) {
  return webScheme(urlScheme(url), SchemeCase::AnyCase) != WebScheme::None;
}

UnwatchedNavigation decideUnwatchedNavigation(const std::string& url, bool newWindow,
                                              bool newWindowsInPlace) {
  const std::string scheme = urlScheme(url);
  const bool page = isWebAddress(url) || scheme == "about" || scheme == "data" || scheme == "blob";
  if (!page) return UnwatchedNavigation::Refuse;
  if (newWindow)
    return newWindowsInPlace ? UnwatchedNavigation::LoadInPlace : UnwatchedNavigation::Refuse;
  return UnwatchedNavigation::Allow;
}

}  // namespace brivok
