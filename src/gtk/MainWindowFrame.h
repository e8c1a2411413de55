#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <memory>

#include "core/EventLoop.h"
#include "core/Timer.h"
#include "gtk/GtkLifetimes.h"
#include "platform/SettingsStore.h"

namespace brivok {

// What the main window keeps across runs: its frame (position and size, "BrivokMain") and its
// page's zoom. Both come back at construction and are saved as they change, the frame once the
// window comes to rest.
class MainWindowFrame {
 public:
  MainWindowFrame(GtkWindow* window, WebKitWebView* page, std::shared_ptr<SettingsStore> settings,
                  std::shared_ptr<EventLoop> loop);
  MainWindowFrame(const MainWindowFrame&) = delete;
  MainWindowFrame& operator=(const MainWindowFrame&) = delete;

  // Saves the frame now (the window closes, the application quits).
  void save();

 private:
  GtkWindow* window_;  // (not held) goes with its handlers
  std::shared_ptr<SettingsStore> settings_;
  std::shared_ptr<EventLoop> loop_;
  Timer pending_;  // the save of a frame that is still moving
  Connections connections_;
};

}  // namespace brivok
