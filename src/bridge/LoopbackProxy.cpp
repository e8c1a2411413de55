#include "bridge/LoopbackProxy.h"

#include <cctype>

namespace brivok {
namespace {

std::string trimmed(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// A variable's value, lower-case name first as most programs read them.
std::string variable(const std::map<std::string, std::string>& env, const std::string& name) {
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const std::string& key : {name, upper}) {
    const auto it = env.find(key);
    if (it != env.end() && !trimmed(it->second).empty()) return trimmed(it->second);
  }
  return {};
}

// "host:3128" is an HTTP proxy, as curl and GLib read it.
std::string proxyAddress(const std::string& value) {
  if (value.empty() || value.find("://") != std::string::npos) return value;
  return "http://" + value;
}

std::string hostPort(const std::string& scheme, const std::string& host, int port) {
  if (host.empty() || port <= 0) return {};
  return scheme + "://" + host + ":" + std::to_string(port);
}

}  // namespace

std::optional<ProxyChoice> proxiesKeepingLoopbackDirect(
    const std::map<std::string, std::string>& env, const std::optional<DesktopProxy>& desktop) {
  ProxyChoice choice;
  if (desktop && desktop->mode == "auto") return std::nullopt;
  if (desktop && desktop->mode == "manual") {
    choice.defaultProxy = hostPort("socks", desktop->socksHost, desktop->socksPort);
    if (auto p = hostPort("http", desktop->httpHost, desktop->httpPort); !p.empty())
      choice.schemes.emplace_back("http", p);
    if (auto p = hostPort("http", desktop->httpsHost, desktop->httpsPort); !p.empty())
      choice.schemes.emplace_back("https", p);
    choice.ignoreHosts = desktop->ignoreHosts;
  } else {
    choice.defaultProxy = proxyAddress(variable(env, "all_proxy"));
    for (const char* scheme : {"http", "https", "ftp"}) {
      if (auto p = proxyAddress(variable(env, std::string(scheme) + "_proxy")); !p.empty())
        choice.schemes.emplace_back(scheme, p);
    }
    const std::string noProxy = variable(env, "no_proxy");
    std::size_t start = 0;
    while (start <= noProxy.size()) {
      const auto comma = noProxy.find(',', start);
      const auto entry = trimmed(noProxy.substr(start, comma - start));
      if (entry == "*") return std::nullopt;  // no proxy for anything
      if (!entry.empty()) choice.ignoreHosts.push_back(entry);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  if (choice.defaultProxy.empty() && choice.schemes.empty()) return std::nullopt;
  choice.ignoreHosts.insert(choice.ignoreHosts.end(), kLoopbackHosts.begin(), kLoopbackHosts.end());
  return choice;
}

}  // namespace brivok
