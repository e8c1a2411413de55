#include "jobs/BackendClient.h"

#include "core/Json.h"
#include "core/Url.h"

namespace brivok {

BackendClient::BackendClient(std::shared_ptr<HttpClient> http,
                             std::function<std::optional<std::string>()> baseUrl, std::string token)
    : http_(std::move(http)), baseUrl_(std::move(baseUrl)), token_(std::move(token)) {}

std::optional<std::string> BackendClient::resolve(const std::string& base,
                                                  const std::string& path) {
  const auto url = Url::parse(base);
  if (!url || !url->hasAuthority || path.empty() || path[0] != '/' || path.rfind("//", 0) == 0) {
    return std::nullopt;
  }
  // Scheme and authority as the base wrote them; the path replaces the base's own.
  const std::size_t authorityEnd = base.find_first_of("/?#", url->scheme.size() + 3);
  const std::string resolved = base.substr(0, authorityEnd) + path;
  if (!Url::parse(resolved)) return std::nullopt;
  return resolved;
}

std::optional<nlohmann::json> BackendClient::readReply(const HttpClient::Reply& reply) {
  if (reply.status != 200 || reply.body.empty()) return std::nullopt;
  return parseJsonObject(reply.body, kMaxReplyBytes);
}

void BackendClient::request(const std::string& path, const std::optional<nlohmann::json>& body,
                            Duration timeout, Done done) {
  const auto base = baseUrl_();
  const auto url = base ? resolve(*base, path) : std::nullopt;
  if (!url) {
    if (done) done(std::nullopt);
    return;
  }
  HttpClient::Request request;
  request.url = *url;
  request.timeout = timeout;
  request.maxReplyBytes = kMaxReplyBytes;
  request.headers.emplace_back("Authorization", "Bearer " + token_);
  if (body) {
    request.method = "POST";
    request.headers.emplace_back("Content-Type", "application/json");
    // Text that cannot be written as JSON (not UTF-8) leaves the POST without a body.
    try {
      request.body = body->dump();
    } catch (const nlohmann::json::exception&) {
      request.body = std::string();
    }
  }
  http_->send(request, [done = std::move(done)](HttpClient::Reply reply) {
    if (done) done(readReply(reply));
  });
}

}  // namespace brivok
