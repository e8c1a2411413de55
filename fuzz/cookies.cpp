// Cookie dictionaries handed over by the backend, and cookies handed back to it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/Cookie.h"
#include "core/Json.h"
#include "signin/SignInData.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parsed =
      brivok::parseJson(std::string_view(reinterpret_cast<const char*>(data), size), 1 << 20);
  if (!parsed || !parsed->is_array()) return 0;
  for (const auto& entry : *parsed) {
    const auto cookie = brivok::cookieFromDictionary(entry);
    if (!cookie) continue;
    if (cookie->domain.empty()) __builtin_trap();
    // Read back from the form it travels in, a cookie stays the same cookie.
    const auto again = brivok::cookieFromDictionary(brivok::cookieDictionary(*cookie));
    if (!again || again->name != cookie->name || again->value != cookie->value ||
        again->domain != cookie->domain || again->path != cookie->path ||
        again->secure != cookie->secure || again->expires != cookie->expires) {
      __builtin_trap();
    }
    brivok::signin::cookieMatches(cookie->domain, {"example.com", "b.example"});
  }
  return 0;
}
