#include "signin/SignInData.h"

#include <algorithm>
#include <cstdio>

#include "core/Md5.h"
#include "core/Url.h"

namespace brivok::signin {

std::string storeIdentifier(std::string_view key) {
  if (key.empty()) return {};
  auto digest = md5(std::string("brivok-signin:").append(key));
  digest[6] = static_cast<std::uint8_t>((digest[6] & 0x0F) | 0x30);
  digest[8] = static_cast<std::uint8_t>((digest[8] & 0x3F) | 0x80);
  std::string out;
  char hex[3];
  for (std::size_t i = 0; i < digest.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    std::snprintf(hex, sizeof hex, "%02X", digest[i]);
    out += hex;
  }
  return out;
}

bool cookieMatches(std::string_view cookieDomain, const std::vector<std::string>& domains) {
  if (!cookieDomain.empty() && cookieDomain.front() == '.') cookieDomain.remove_prefix(1);
  const std::string d = asciiLower(cookieDomain);
  for (const auto& e : domains) {
    if (isDomainOrSubdomain(d, e)) return true;
  }
  return false;
}

nlohmann::json cookieDictionary(const Cookie& cookie) {
  nlohmann::json out = {{"name", cookie.name},
                        {"value", cookie.value},
                        {"domain", cookie.domain},
                        {"path", cookie.path},
                        {"secure", cookie.secure}};
  if (cookie.expires) out["expires"] = *cookie.expires;
  return out;
}

std::vector<std::string> lowerCased(const std::vector<std::string>& domains) {
  std::vector<std::string> out;
  out.reserve(domains.size());
  for (const auto& d : domains) out.push_back(asciiLower(d));
  return out;
}

std::string addressLabel(const std::string& url) {
  const auto parsed = Url::parse(url);
  if (parsed && !parsed->host.empty()) return parsed->host;
  return url;
}

}  // namespace brivok::signin

namespace brivok::signin {

std::pair<int, int> popupOrigin(const Rect& w, const std::optional<Rect>& workArea, int width,
                                int height) {
  if (!workArea) return {0, 0};
  const int x = w.x + w.width / 2 - width / 2;
  const int y = std::max(workArea->y, w.y + w.height / 2 - height / 2);
  return {x, y};
}

}  // namespace brivok::signin
