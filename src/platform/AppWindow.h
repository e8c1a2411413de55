#pragma once

namespace brivok {

// A top-level window of the shell.
class AppWindow {
 public:
  virtual ~AppWindow() = default;
  // Shows the window and brings it to the front as the key window.
  virtual void present() = 0;
};

}  // namespace brivok
