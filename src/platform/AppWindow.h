#pragma once

#include <string>

namespace brivok {

// A top-level window of the shell.
class AppWindow {
 public:
  virtual ~AppWindow() = default;
  // Shows the window and brings it to the front as the key window.
  virtual void present() = 0;
  // An alert on the window with its one default button; returns once it is closed.
  virtual void alert(const std::string& message, const std::string& detail) = 0;
};

}  // namespace brivok
