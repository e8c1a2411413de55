#pragma once

#include <string>

#include "platform/PageLoader.h"

namespace brivok {

// The main window's web view, as the application logic drives it.
class MainWebView : public PageLoader {
 public:
  // Loads a document from text with no base address (it shows as an about: page).
  virtual void loadHtml(const std::string& html) = 0;
  // Replaces the page script run at document start in the main frame of every later load.
  virtual void setPageScript(const std::string& source) = 0;
  // Loads the current page again.
  virtual void reload() = 0;
  // Runs script in the page on screen; its result and errors are ignored.
  virtual void evaluateScript(const std::string& source) = 0;
};

}  // namespace brivok
