#include "core/Cookie.h"

#include <cmath>
#include <string_view>

namespace brivok {

nlohmann::json cookieDictionary(const Cookie& cookie) {
  nlohmann::json out = {{"name", cookie.name},
                        {"value", cookie.value},
                        {"domain", cookie.domain},
                        {"path", cookie.path},
                        {"secure", cookie.secure}};
  if (cookie.expires) out["expires"] = *cookie.expires;
  return out;
}

namespace {

// What a Cookie or Set-Cookie header can carry without changing its meaning.
bool headerSafe(std::string_view text, bool isName) {
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == ';' || (isName && (c == '=' || c == ' ' || c == ','))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<Cookie> cookieFromDictionary(const nlohmann::json& d) {
  if (!d.is_object()) return std::nullopt;
  const auto text = [&d](const char* key, const char* fallback) {
    const auto it = d.find(key);
    return it != d.end() && it->is_string() ? it->get<std::string>() : std::string(fallback);
  };
  Cookie cookie;
  cookie.name = text("name", "");
  cookie.value = text("value", "");
  cookie.domain = text("domain", "");
  cookie.path = text("path", "/");
  if (const auto it = d.find("secure"); it != d.end() && it->is_boolean()) {
    cookie.secure = it->get<bool>();
  }
  if (const auto it = d.find("expires"); it != d.end() && it->is_number()) {
    const double when = it->get<double>();
    // Beyond what a date can hold either way: no usable expiry.
    if (std::isfinite(when) && when > -1e11 && when < 1e11) cookie.expires = when;
  }
  if (cookie.domain.empty() || !headerSafe(cookie.name, true) || !headerSafe(cookie.value, false) ||
      !headerSafe(cookie.domain, true) || !headerSafe(cookie.path, false)) {
    return std::nullopt;
  }
  return cookie;
}

}  // namespace brivok
