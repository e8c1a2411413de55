#pragma once

#include <gtk/gtk.h>

#include <string>

#include "platform/AppWindow.h"

namespace brivok {

// The main window as the logic sees it: brought to the front, and alerts on it.
class GtkAppWindow : public AppWindow {
 public:
  explicit GtkAppWindow(GtkWidget* window) : window_(window) {}
  // Shows the window as it is: what the page hid (the secondary site's view) stays hidden.
  void present() override;
  void alert(const std::string& message, const std::string& detail) override;

 private:
  GtkWidget* window_;
};

}  // namespace brivok
