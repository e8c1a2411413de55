#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/HttpClient.h"

namespace brivok {

// Requests to the backend's own HTTP interface: the bearer token, a JSON body when there is
// one, and a reply that counts only as a JSON object with status 200.
class BackendClient {
 public:
  // The reply object, or nothing for every kind of failure.
  using Done = std::function<void(std::optional<nlohmann::json>)>;

  static constexpr Duration kDefaultTimeout = std::chrono::seconds(30);
  // A reply beyond this is no reply: nothing the backend says to the shell is this long.
  static constexpr std::size_t kMaxReplyBytes = 16 * 1024 * 1024;

  BackendClient(std::shared_ptr<HttpClient> http,
                std::function<std::optional<std::string>()> baseUrl, std::string token);

  // GET without a body, POST with one. Failures before anything is sent (no address yet, a
  // path that does not resolve) reach `done` before this returns; every other outcome later.
  void request(const std::string& path, const std::optional<nlohmann::json>& body, Duration timeout,
               Done done);

  // `path` (an absolute path) on the base address's scheme, host and port.
  static std::optional<std::string> resolve(const std::string& base, const std::string& path);
  static std::optional<nlohmann::json> readReply(const HttpClient::Reply& reply);

 private:
  std::shared_ptr<HttpClient> http_;
  std::function<std::optional<std::string>()> baseUrl_;
  std::string token_;
};

}  // namespace brivok
