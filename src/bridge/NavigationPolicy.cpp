#include "bridge/NavigationPolicy.h"

#include "core/Url.h"

namespace brivok {
namespace {

bool inside(const Url& url, const std::string& domain) {
  if (url.host == "127.0.0.1" || url.host == "localhost") return true;
  return !domain.empty() && isDomainOrSubdomain(url.host, domain);
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
  if (scheme == "about" || inside(*url, request.insideDomain)) return Navigation::Allow;
  return outside(scheme);
}

bool isWebAddress(const std::string& url) {
  const std::string scheme = urlScheme(url);
  return scheme == "http" || scheme == "https";
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
