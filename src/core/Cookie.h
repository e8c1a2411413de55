#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace brivok {

// One cookie as a website store holds it.
struct Cookie {
  std::string name;
  std::string value;
  std::string domain;  // as stored: a leading dot and letter case kept
  std::string path;
  bool secure = false;
  std::optional<double> expires;  // seconds since 1970, absent for a session cookie
};

// A cookie as it travels to the page and the backend.
nlohmann::json cookieDictionary(const Cookie& cookie);

// A cookie dictionary handed over by the backend, read back into a cookie: a missing or
// mistyped "name", "value" or "domain" is empty, "path" is "/", "secure" is false, and
// "expires" (seconds since 1970) absent makes a session cookie. Nothing when no store could
// hold it: no domain, or a name or value a cookie header cannot carry.
std::optional<Cookie> cookieFromDictionary(const nlohmann::json& dictionary);

}  // namespace brivok
