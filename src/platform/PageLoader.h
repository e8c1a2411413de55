#pragma once

#include <string>

namespace brivok {

// The loads of a web view of the main window.
class PageLoader {
 public:
  virtual ~PageLoader() = default;
  virtual void loadUrl(const std::string& url) = 0;
  virtual bool isLoading() const = 0;
  virtual void stopLoading() = 0;
};

}  // namespace brivok
