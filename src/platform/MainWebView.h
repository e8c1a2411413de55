#pragma once

#include <string>

namespace brivok {

// The main window's web view, as the application logic drives it.
class MainWebView {
 public:
  virtual ~MainWebView() = default;
  virtual void loadUrl(const std::string& url) = 0;
  // Loads a document from text with no base address (it shows as an about: page).
  virtual void loadHtml(const std::string& html) = 0;
  virtual bool isLoading() const = 0;
  virtual void stopLoading() = 0;
  // Replaces the page script run at document start in the main frame of every later load.
  virtual void setPageScript(const std::string& source) = 0;
  // Runs script in the page on screen; its result and errors are ignored.
  virtual void evaluateScript(const std::string& source) = 0;
};

}  // namespace brivok
