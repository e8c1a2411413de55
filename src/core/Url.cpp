#include "core/Url.h"

#include <cctype>

#include "core/Utf8.h"

namespace brivok {
namespace {

bool isAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isHex(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isUrlChar(char c) {
  if (isAlpha(c) || isDigit(c)) return true;
  switch (c) {
    case '-':
    case '.':
    case '_':
    case '~':  // unreserved
    case ':':
    case '/':
    case '?':
    case '#':
    case '[':
    case ']':
    case '@':  // gen-delims
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':  // sub-delims
    case '%':
      return true;
    default:
      return false;
  }
}

// Characters browsers percent-encode where they find them after the host.
bool isEncodedAfterHost(char c) {
  switch (c) {
    case '|':
    case '{':
    case '}':
    case '^':
    case '`':
    case '"':
    case '<':
    case '>':
      return true;
    default:
      return static_cast<unsigned char>(c) >= 0x80;
  }
}

std::string encodedAfterHost(std::string_view text) {
  std::size_t from = text.find(':');
  if (from == std::string_view::npos) return std::string(text);
  ++from;
  if (text.substr(from, 2) == "//") {
    from = text.find_first_of("/?#", from + 2);
    if (from == std::string_view::npos) return std::string(text);
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out(text.substr(0, from));
  for (const char c : text.substr(from)) {
    if (isEncodedAfterHost(c)) {
      const auto u = static_cast<unsigned char>(c);
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string Url::origin() const {
  if (!hasAuthority || host.empty()) return {};
  const std::string s = asciiLower(scheme);
  std::string out = s + "://" + asciiLower(host);
  const bool defaultPort = (s == "http" && port == 80) || (s == "https" && port == 443);
  if (port && !defaultPort) out += ":" + std::to_string(*port);
  return out;
}

std::optional<int> Url::effectivePort() const {
  if (port) return port;
  const std::string s = asciiLower(scheme);
  if (s == "http") return 80;
  if (s == "https") return 443;
  return std::nullopt;
}

std::string withoutUserinfo(std::string_view text) {
  const auto url = Url::parse(text);
  if (!url || !url->userinfo) return std::string(text);
  // Parsing found "scheme://userinfo@": the userinfo and its "@" follow the "//" directly.
  const std::size_t start = url->scheme.size() + 3;
  return std::string(text.substr(0, start)) +
         std::string(text.substr(start + url->userinfo->size() + 1));
}

WebScheme webScheme(std::string_view scheme, SchemeCase rule) {
  const std::string s = rule == SchemeCase::AnyCase ? asciiLower(scheme) : std::string(scheme);
  if (s == "http") return WebScheme::Http;
  if (s == "https") return WebScheme::Https;
  return WebScheme::None;
}

bool isLoopbackHost(std::string_view host) {
  return host == "127.0.0.1" || host == "localhost";
}

bool isIpAddress(std::string_view host) {
  if (host.empty()) return false;
  if (host.front() == '[') return true;
  // As browsers read hosts: a name whose last label is a number is an IPv4 address.
  const auto dot = host.rfind('.');
  const std::string_view last = dot == std::string_view::npos ? host : host.substr(dot + 1);
  if (last.empty()) return false;
  for (const char c : last) {
    if (!isDigit(c)) return false;
  }
  return true;
}

std::string urlScheme(std::string_view text) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || !isAlpha(text[0])) return {};
  for (std::size_t i = 1; i < colon; ++i) {
    const char c = text[i];
    if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return {};
  }
  return asciiLower(text.substr(0, colon));
}

std::string asciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string fileUrl(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "file://";
  for (const char c : path) {
    const auto u = static_cast<unsigned char>(c);
    if (isAlpha(c) || isDigit(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    }
  }
  return out;
}

std::string percentDecoded(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  const auto hex = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && isHex(s[i + 1]) && isHex(s[i + 2])) {
      out.push_back(static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2])));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return isValidUtf8(out) ? out : std::string(s);
}

bool isDomainOrSubdomain(std::string_view host, std::string_view domain) {
  if (host == domain) return true;
  return host.size() > domain.size() && host.ends_with(domain) &&
         host[host.size() - domain.size() - 1] == '.';
}

std::optional<Url> Url::parse(std::string_view written) {
  if (written.empty()) return std::nullopt;
  const std::string encoded = encodedAfterHost(written);
  const std::string_view text = encoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (!isUrlChar(c)) return std::nullopt;
    if (c == '%' && (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])))
      return std::nullopt;
  }
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0 || !isAlpha(text[0])) return std::nullopt;
  for (std::size_t i = 1; i < colon; ++i) {
    const char c = text[i];
    if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
  }
  Url url;
  url.text = std::string(text);
  url.scheme = std::string(text.substr(0, colon));
  std::string_view rest = text.substr(colon + 1);
  if (rest.substr(0, 2) == "//") {
    url.hasAuthority = true;
    rest.remove_prefix(2);
    std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
      url.userinfo = std::string(authority.substr(0, at));
      authority.remove_prefix(at + 1);
    }
    std::string_view host = authority;
    std::string_view port;
    if (!authority.empty() && authority[0] == '[') {
      const auto close = authority.find(']');
      if (close == std::string_view::npos) return std::nullopt;
      host = authority.substr(0, close + 1);
      std::string_view after = authority.substr(close + 1);
      if (!after.empty()) {
        if (after[0] != ':') return std::nullopt;
        port = after.substr(1);
      }
    } else if (const auto pc = authority.find(':'); pc != std::string_view::npos) {
      host = authority.substr(0, pc);
      port = authority.substr(pc + 1);
    }
    if (host.find_first_of("[]") != std::string_view::npos && host.front() != '[')
      return std::nullopt;
    if (!port.empty()) {
      if (port.size() > 5) return std::nullopt;
      int value = 0;
      for (char c : port) {
        if (!isDigit(c)) return std::nullopt;
        value = value * 10 + (c - '0');
      }
      if (value > 65535) return std::nullopt;
      url.port = value;
    }
    url.host = std::string(host);
    rest.remove_prefix(authority.data() + authority.size() - rest.data());
  }
  url.path = std::string(rest.substr(0, rest.find_first_of("?#")));
  return url;
}

}  // namespace brivok
