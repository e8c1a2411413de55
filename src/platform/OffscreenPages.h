#pragma once

#include <memory>
#include <string>

#include "platform/WebPage.h"

namespace brivok {

// A page that is never shown (reading a page, signing in again by itself). It behaves as a
// page in a window on screen would, but nothing of it waits for a person or reaches the
// desktop: dialogs are answered at once; file choosers, permissions, printing, menus and
// full screen refused; sound muted; and a response it cannot show (a download) fails its load.
struct OffscreenPageOptions {
  std::string key;  // the sign-in key whose website store it works on; empty: a fresh store
  int width = 1280;
  int height = 2000;
  bool newWindowsInPlace = false;  // a page's new window loads in the same page; else refused
};

// Makes never-shown pages, each on a view of its own.
class OffscreenPages {
 public:
  virtual ~OffscreenPages() = default;
  virtual std::shared_ptr<WebPage> open(const OffscreenPageOptions& options) = 0;
};

}  // namespace brivok
