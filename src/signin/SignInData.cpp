#include "signin/SignInData.h"

#include <algorithm>
#include <cmath>
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

std::string withoutSecret(std::string_view text, std::string_view secret) {
  if (secret.empty()) return std::string(text);
  const auto hexValue = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
  };
  // Ranges of `text` that spell the secret, found in three readings of it: as it stands,
  // percent-decoded, and percent-decoded with "+" read as a space.
  std::vector<std::pair<std::size_t, std::size_t>> hidden;
  std::string decoded;
  std::vector<std::size_t> from;  // where each decoded byte starts in `text`
  for (int reading = 0; reading < 3; ++reading) {
    decoded.clear();
    from.clear();
    for (std::size_t i = 0; i < text.size();) {
      from.push_back(i);
      int high = 0, low = 0;
      if (reading > 0 && text[i] == '%' && i + 2 < text.size() &&
          (high = hexValue(text[i + 1])) >= 0 && (low = hexValue(text[i + 2])) >= 0) {
        decoded.push_back(static_cast<char>(high * 16 + low));
        i += 3;
      } else {
        decoded.push_back(reading == 2 && text[i] == '+' ? ' ' : text[i]);
        i += 1;
      }
    }
    from.push_back(text.size());
    for (std::size_t at = decoded.find(secret); at != std::string::npos;
         at = decoded.find(secret, at + 1)) {
      hidden.emplace_back(from[at], from[at + secret.size()]);
    }
  }
  if (hidden.empty()) return std::string(text);
  std::sort(hidden.begin(), hidden.end());
  std::string out;
  std::size_t done = 0;
  for (const auto& [begin, end] : hidden) {
    if (end <= done) continue;
    if (begin >= done) {
      out.append(text.substr(done, begin - done));
      out.append(kSecretMask);
    }
    done = end;  // overlapping ranges share one mask
  }
  out.append(text.substr(done));
  return out;
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

std::optional<std::string> pageAnswer(const std::string& id,
                                      const std::optional<nlohmann::json>& result) {
  nlohmann::json payload = result ? *result : nlohmann::json{{"cancelled", true}};
  payload["id"] = id;
  try {
    return payload.dump();
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

}  // namespace brivok::signin
