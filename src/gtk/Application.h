#pragma once

#include <gtk/gtk.h>
#include <sys/types.h>

#include <memory>

#include "app/AppDelegate.h"
#include "app/Paths.h"
#include "core/Timer.h"
#include "gtk/GtkLifetimes.h"

namespace brivok {

class GlibEventLoop;
class SettingsFile;
class WebKitMainView;
class MainWindowFrame;

// The desktop application: one instance per user session, one main window, quit on the
// last window closed or on SIGTERM, SIGINT or SIGHUP, and the backend stopped on the way out.
class Application {
 public:
  static constexpr const char* kApplicationId = "app.brivok.Brivok";

  // `childUmask`: the file mode creation mask the backend starts with.
  Application(Paths paths, mode_t childUmask);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  int run();
  // The first launch in the session, before the toolkit starts: starts the backend.
  void startingAsFirst();

 private:
  static void activate(GtkApplication*, gpointer self);
  static void shutdown(GtkApplication*, gpointer self);
  static gboolean quitOnSignal(gpointer self);

  void launch();
  // What the window shows until the web view's first page is on screen.
  static GtkWidget* startingCover();
  void stopBackend();

  Paths paths_;
  mode_t childUmask_;
  GtkApplication* app_ = nullptr;
  GtkWidget* window_ = nullptr;
  GtkWidget* cover_ = nullptr;  // the starting text, until the first page is drawn
  std::shared_ptr<GlibEventLoop> loop_;
  std::shared_ptr<Backend> backend_;
  std::shared_ptr<SettingsFile> settings_;
  std::shared_ptr<WebKitMainView> webView_;
  std::shared_ptr<AppDelegate> delegate_;
  guint signalSources_[3] = {0, 0, 0};
  std::unique_ptr<MainWindowFrame> frame_;  // the window's frame and zoom, kept across runs
  Connections connections_;                 // of the application and its main window
};

}  // namespace brivok
