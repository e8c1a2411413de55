#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brivok {

// The desktop's own proxy settings, as far as they matter here.
struct DesktopProxy {
  std::string mode;  // "none", "manual" or "auto" (a configuration script)
  std::string httpHost, httpsHost, socksHost;
  int httpPort = 0, httpsPort = 0, socksPort = 0;
  std::vector<std::string> ignoreHosts;
};

// The user's proxies written out, so that one addition can be made to them.
struct ProxyChoice {
  std::string defaultProxy;                                  // empty: straight to the host
  std::vector<std::pair<std::string, std::string>> schemes;  // scheme → proxy address
  std::vector<std::string> ignoreHosts;                      // reached directly

  bool operator==(const ProxyChoice&) const = default;
};

// Hosts that are this machine: the backend lives there, and nothing on the way to it may be
// a proxy that sees its page, its session cookie and the page's calls.
inline const std::vector<std::string> kLoopbackHosts = {"localhost", "127.0.0.0/8", "::1"};

// The proxies the user's environment (http_proxy, https_proxy, all_proxy, no_proxy and their
// upper-case forms) or desktop (manual settings) asks for, with this machine added to the
// hosts reached directly. Nothing when there is no proxy to keep this machine from, or when
// it comes from a configuration script the shell cannot write out (then the desktop's own
// resolver decides, as before).
std::optional<ProxyChoice> proxiesKeepingLoopbackDirect(
    const std::map<std::string, std::string>& env, const std::optional<DesktopProxy>& desktop);

}  // namespace brivok
