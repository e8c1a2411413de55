#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/EventLoop.h"

namespace brivok {

// Plain HTTP exchanges with the local backend.
class HttpClient {
 public:
  struct Request {
    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<std::string> body;  // sent as it is; the Content-Type is among the headers
    Duration timeout{30000};
    std::size_t maxReplyBytes = 0;  // a longer reply is a failed exchange
  };
  struct Reply {
    int status = 0;  // 0: no HTTP response (refused, timed out, cancelled, too long)
    std::string body;
  };

  virtual ~HttpClient() = default;
  // `done` runs once, later, on the main thread; never inside send().
  virtual void send(const Request& request, std::function<void(Reply)> done) = 0;
};

}  // namespace brivok
