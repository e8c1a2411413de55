#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace brivok {

// How long any page, shown or not, may take to load before its load is given up.
inline constexpr std::chrono::seconds kPageLoadLimit{60};

// The loads of a web view of the main window.
class PageLoader {
 public:
  virtual ~PageLoader() = default;
  // Loads `url`; a load still running after the page-load limit is given up.
  virtual void loadUrl(const std::string& url) = 0;
  virtual bool isLoading() const = 0;
  virtual void stopLoading() = 0;
  // Called when the view's web process goes away (a crash, a kill, its memory limit): the
  // view shows nothing more until it loads again.
  virtual void setOnStopped(std::function<void()> stopped) = 0;
};

}  // namespace brivok
