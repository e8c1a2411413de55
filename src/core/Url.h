#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brivok {

// An absolute URL. Parsing is strict in the way a URL parser of the platform would be: only
// characters a URL may hold, well-formed percent escapes, a scheme, and a numeric port when
// one is given. As browsers do, characters they take in a path, query or fragment although a
// URL may not hold them as written (| { } ^ ` " < > and bytes past ASCII) are percent-encoded
// first; nothing else is normalised, so the scheme keeps the case the text gave it.
struct Url {
  std::string text;                     // the whole URL, those characters percent-encoded
  std::string scheme;                   // as written, without ":"
  std::string host;                     // empty when there is no authority; IPv6 keeps its brackets
  std::optional<std::string> userinfo;  // "user:password" before "@" and the host, as written
  std::optional<int> port;
  std::string path;           // as written (percent escapes kept), without query or fragment
  bool hasAuthority = false;  // "//" follows the scheme

  static std::optional<Url> parse(std::string_view text);

  // The origin as a page's `location.origin` gives it: scheme and host in lower case, the
  // port only when it is not the scheme's default. Empty without an authority.
  std::string origin() const;
  // The port the address reaches: the written one, else the scheme's default (80 for http,
  // 443 for https); nothing for other schemes without one.
  std::optional<int> effectivePort() const;
};

// The address with any "user:password@" before its host taken out; other text unchanged.
std::string withoutUserinfo(std::string_view url);
// Whether a scheme is the web's: the one test of http and https everywhere. The page's and
// the backend's addresses are taken as written ("HTTPS" is none of them); what the engine
// navigates to, in any case, as the engine itself does.
enum class WebScheme { None, Http, Https };
enum class SchemeCase { AsWritten, AnyCase };
WebScheme webScheme(std::string_view scheme, SchemeCase rule = SchemeCase::AsWritten);

// The two names of this machine that the shell treats as its own, compared as written.
bool isLoopbackHost(std::string_view host);
// A host written as an IP address (dotted IPv4, or IPv6 in brackets), not a name: such a host
// has no subdomains.
bool isIpAddress(std::string_view host);

std::string asciiLower(std::string_view s);
// The scheme of any address, in lower case, however the rest of it is written; empty when
// it has none.
std::string urlScheme(std::string_view text);
// The file: URL of an absolute path, every byte but unreserved ones and "/" escaped.
std::string fileUrl(std::string_view path);
// Undoes percent escapes; text that would not be UTF-8 once decoded stays as written.
std::string percentDecoded(std::string_view s);
// True when `host` is `domain` itself or any name under it ("a.b.domain"), compared exactly.
bool isDomainOrSubdomain(std::string_view host, std::string_view domain);

}  // namespace brivok
