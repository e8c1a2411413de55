#pragma once

#include <webkit2/webkit2.h>

#include <chrono>

#include "gtk/GtkLifetimes.h"
#include "platform/PageLoader.h"

namespace brivok {

// Gives up a view's load that still runs after the page-load limit: stopped, as the user's
// Stop would. Each load starts it again; a load that finishes or fails ends it. Every view,
// shown or not, times its loads with one of these.
class LoadLimit {
 public:
  explicit LoadLimit(WebKitWebView* view,
                     std::chrono::milliseconds limit = std::chrono::milliseconds(kPageLoadLimit));
  ~LoadLimit() { stop(); }
  LoadLimit(const LoadLimit&) = delete;
  LoadLimit& operator=(const LoadLimit&) = delete;

  void start();  // a load begins
  void stop();   // it ended, or no longer counts
  // Whether the limit stopped the last load (whose cancellation is then a failure).
  bool gaveUp() const { return gaveUp_; }

 private:
  WebKitWebView* view_;  // (not held) the view this belongs to
  std::chrono::milliseconds limit_;
  guint source_ = 0;
  bool gaveUp_ = false;
  Connections connections_;
};

}  // namespace brivok
