#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/Rect.h"
#include "platform/SignInWindow.h"

namespace brivok::signin {

// Sites are served the pages a common desktop browser gets.
inline constexpr const char* kUserAgent =
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) "
    "Version/17.5 Safari/605.1.15";
inline constexpr const char* kClosedError = "the sign-in window was closed";

// The identifier of a sign-in key's persistent website store: a UUID (version 3, variant 10)
// made of the MD5 of "brivok-signin:" + key. Empty for the empty key, which never persists.
std::string storeIdentifier(std::string_view key);

// A cookie is handed over when its domain, without a leading dot and in lower case, is an
// entry of `domains` or a subdomain of one. `domains` is already lower-cased.
bool cookieMatches(std::string_view cookieDomain, const std::vector<std::string>& domains);

std::vector<std::string> lowerCased(const std::vector<std::string>& domains);

// The label text for an address: its host, or the whole text when it has none.
std::string addressLabel(const std::string& url);

inline constexpr const char* kSecretMask = "********";
// `text` with every appearance of `secret` replaced by kSecretMask: as it stands, and
// percent-encoded in any way an address may carry it (a space also as "+").
std::string withoutSecret(std::string_view text, std::string_view secret);

// The page's answer to its request `id` as JSON text: the sign-in result with the id, or
// {"cancelled": true, "id"} when it ended without one. Nothing when page text in it is not
// UTF-8: such an answer is not sent.
std::optional<std::string> pageAnswer(const std::string& id,
                                      const std::optional<nlohmann::json>& result);

}  // namespace brivok::signin

namespace brivok::signin {

using brivok::Rect;
inline constexpr int kPopupWidth = 520;
inline constexpr int kPopupHeight = 680;

// Where a popup of `width` by `height` goes: centred on the sign-in window, and lowered
// so that its top never rises above the top of the work area.
std::pair<int, int> popupOrigin(const Rect& signInWindow, const std::optional<Rect>& workArea,
                                int width, int height);

}  // namespace brivok::signin
