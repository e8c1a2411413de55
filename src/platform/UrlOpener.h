#pragma once

#include <string>

namespace brivok {

// Hands an address to the user's default application for its scheme.
class UrlOpener {
 public:
  virtual ~UrlOpener() = default;
  virtual void open(const std::string& url) = 0;
};

}  // namespace brivok
