#pragma once

#include <gtk/gtk.h>

#include "platform/UrlOpener.h"

namespace brivok {

// Opens addresses with the desktop's default handler (the user's browser for https), the way
// GTK hands them to the desktop: with a launch context, so the handler is told it may come to
// the front (startup notification, activation token), and through the desktop portal where
// the application is asked to use portals.
class DesktopUrlOpener : public UrlOpener {
 public:
  explicit DesktopUrlOpener(GtkWindow* parent = nullptr);
  ~DesktopUrlOpener() override;
  DesktopUrlOpener(const DesktopUrlOpener&) = delete;
  DesktopUrlOpener& operator=(const DesktopUrlOpener&) = delete;

  void open(const std::string& url, Done done = nullptr) override;

 private:
  GtkWindow* parent_;  // (weak) the window the portal's dialogs belong to
};

}  // namespace brivok
