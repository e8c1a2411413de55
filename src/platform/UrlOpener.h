#pragma once

#include <functional>
#include <string>

namespace brivok {

// Hands an address to the user's default application for its scheme.
class UrlOpener {
 public:
  // Whether an application took the address; called later, on the main thread.
  using Done = std::function<void(bool opened)>;

  virtual ~UrlOpener() = default;
  virtual void open(const std::string& url, Done done = nullptr) = 0;
};

}  // namespace brivok
