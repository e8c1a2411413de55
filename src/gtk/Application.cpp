#include "gtk/Application.h"

#include <glib-unix.h>

#include <unistd.h>

#include <csignal>

#include "app/SettingsFile.h"
#include "bridge/RateLimitedOpener.h"
#include "gtk/AppMenu.h"
#include "gtk/DesktopStyle.h"
#include "gtk/DesktopUrlOpener.h"
#include "gtk/GlibEventLoop.h"
#include "gtk/GtkAppWindow.h"
#include "gtk/GtkPathChooser.h"
#include "gtk/MainWindowFrame.h"
#include "gtk/ShellApplicationClass.h"
#include "gtk/SoupHttpClient.h"
#include "gtk/WebKitMainView.h"
#include "gtk/WebKitOffscreenPages.h"
#include "gtk/WebKitSignInWindow.h"
#include "gtk/WebKitTarvelView.h"
#include "gtk/WebSandbox.h"
#include "signin/SignInController.h"

namespace brivok {

Application::Application(Paths paths, mode_t childUmask)
    : paths_(std::move(paths)), childUmask_(childUmask) {
  app_ = newShellApplication(
      kApplicationId, +[](gpointer self) { static_cast<Application*>(self)->startingAsFirst(); },
      this);
  connections_.add(app_, "activate", G_CALLBACK(activate), this);
  connections_.add(app_, "shutdown", G_CALLBACK(shutdown), this);
}

Application::~Application() {
  for (guint& source : signalSources_) g_clear_handle_id(&source, g_source_remove);
  frame_.reset();
  connections_.clear();
  delegate_.reset();
  backend_.reset();
  webView_.reset();
  g_object_unref(app_);
}

int Application::run() {
  char name[] = "brivok";
  char* argv[] = {name, nullptr};
  const int signals[] = {SIGTERM, SIGINT, SIGHUP};
  for (int i = 0; i < 3; ++i) {
    signalSources_[i] = g_unix_signal_add(signals[i], quitOnSignal, this);
  }
  // The shell takes no arguments of its own.
  return g_application_run(G_APPLICATION(app_), 1, argv);
}

void Application::activate(GtkApplication*, gpointer data) {
  auto* self = static_cast<Application*>(data);
  // A second launch lands here in the running instance: show the window, start nothing.
  if (self->delegate_) {
    if (self->window_) gtk_window_present(GTK_WINDOW(self->window_));
    return;
  }
  self->launch();
}

void Application::startingAsFirst() {
  // Whether web pages can run in the engine's sandbox, found out alongside the toolkit's
  // start; the first web view needs the answer.
  startWebSandboxCheck();
  // The backend's own start-up (an interpreter and its imports) overlaps the toolkit's:
  // display, GL probe, accessibility bus. What it says is handled only from the loop, which
  // first turns once the window and its page are set up.
  loop_ = std::make_shared<GlibEventLoop>();
  backend_ = Backend::create(loop_, Backend::Config{paths_.resources, paths_.home, paths_.logFile(),
                                                    std::nullopt, childUmask_});
  backend_->start();
}

GtkWidget* Application::startingCover() {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_widget_set_name(box, "starting-cover");
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, "#starting-cover { background-color: @theme_bg_color; }", -1,
                                  nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(box), GTK_STYLE_PROVIDER(css),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
  gchar* markup = g_markup_printf_escaped("<span size='x-large' weight='bold'>%s</span>",
                                          AppDelegate::kStartingTitle);
  GtkWidget* title = gtk_label_new(nullptr);
  gtk_label_set_markup(GTK_LABEL(title), markup);
  g_free(markup);
  GtkWidget* detail = gtk_label_new(AppDelegate::kStartingDetail);
  gtk_style_context_add_class(gtk_widget_get_style_context(detail), "dim-label");
  gtk_widget_set_valign(title, GTK_ALIGN_END);
  gtk_widget_set_vexpand(title, TRUE);
  gtk_widget_set_valign(detail, GTK_ALIGN_START);
  gtk_widget_set_vexpand(detail, TRUE);
  gtk_box_pack_start(GTK_BOX(box), title, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(box), detail, TRUE, TRUE, 0);
  return box;
}

void Application::launch() {
  followDesktopColorScheme();
  // The icon lives beside the binary's resources until the desktop's own theme has it.
  gtk_icon_theme_append_search_path(gtk_icon_theme_get_default(),
                                    (paths_.resources + "/../icons").c_str());
  gtk_window_set_default_icon_name(kApplicationId);
  settings_ = std::make_shared<SettingsFile>(paths_.settingsFile());

  if (!webSandboxAvailable()) g_printerr("Brivok: %s\n", kNoSandboxNotice);  // once, at start
  auto forward = std::make_shared<std::weak_ptr<AppDelegate>>();
  webView_ = std::make_shared<WebKitMainView>([forward](const PageMessage& message) {
    if (auto delegate = forward->lock()) delegate->receiveScriptMessage(message);
  });

  window_ = gtk_application_window_new(app_);
  gtk_window_set_title(GTK_WINDOW(window_), "Brivok");
  frame_ =
      std::make_unique<MainWindowFrame>(GTK_WINDOW(window_), webView_->view(), settings_, loop_);
  // The secondary site's view floats over the main view in this overlay.
  GtkWidget* overlay = gtk_overlay_new();
  gtk_container_add(GTK_CONTAINER(overlay), webView_->widget());
  gtk_container_add(GTK_CONTAINER(window_), overlay);
  // The engine draws its first page a second or more after the window shows (its web process
  // starts first). Until then the window says what is happening in the toolkit's own drawing,
  // over the view; the view's first page on screen takes its place.
  cover_ = startingCover();
  gtk_overlay_add_overlay(GTK_OVERLAY(overlay), cover_);
  connections_.add(cover_, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer data) {
                     static_cast<Application*>(data)->cover_ = nullptr;
                   }),
                   this);
  // The view is this object's own and goes with it: the call never outlives it.
  webView_->setOnFirstPaint([this] {
    if (cover_) gtk_widget_destroy(cover_);
  });
  // Shown once here; presenting the window later shows the window only, so a view the page
  // hid stays hidden.
  gtk_widget_show_all(overlay);
  connections_.add(window_, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer data) {
                     auto* self = static_cast<Application*>(data);
                     self->window_ = nullptr;
                     // The main window's end is the application's, sign-in windows or not.
                     g_application_quit(G_APPLICATION(self->app_));
                   }),
                   this);

  // Every view and action hands addresses to the desktop through one bounded gate.
  auto opener = std::make_shared<RateLimitedOpener>(
      std::make_shared<DesktopUrlOpener>(GTK_WINDOW(window_)), loop_);
  webView_->setOpenOutside([opener](const std::string& url) { opener->open(url); });
  // Sign-in windows and never-shown pages share the stores of sign-in keys.
  auto stores = std::make_shared<WebKitStores>(paths_.dataDir, paths_.cacheDir);
  auto offscreen = std::make_shared<WebKitOffscreenPages>(stores);
  AppDelegate::Parts parts{loop_,
                           settings_,
                           webView_,
                           std::make_shared<GtkAppWindow>(window_),
                           opener,
                           backend_,
                           std::make_shared<WebKitSignInWindows>(stores)};
  parts.pathChooser = std::make_shared<GtkPathChooser>(GTK_WINDOW(window_));
  std::weak_ptr<Backend> backend = backend_;
  parts.jobs = NativeJobs::create(loop_, offscreen,
                                  std::make_unique<BackendClient>(
                                      std::make_shared<SoupHttpClient>(),
                                      [backend]() -> std::optional<std::string> {
                                        if (auto b = backend.lock()) return b->url();
                                        return std::nullopt;
                                      },
                                      backend_->token()),
                                  SignInController::jobRunner(offscreen, loop_));
  parts.home = paths_.home;
  parts.resources = paths_.resources;
  parts.userUmask = childUmask_;
  parts.makeTarvelView = [overlay, page = webView_->view(), data = paths_.dataDir + "/default",
                          cache = paths_.cacheDir + "/default", opener] {
    return std::make_shared<WebKitTarvelView>(
        GTK_OVERLAY(overlay), page, data, cache, AppDelegate::kTarvelDomain,
        [opener](const std::string& url) { opener->open(url); });
  };
  delegate_ = AppDelegate::create(std::move(parts));
  *forward = delegate_;
  std::weak_ptr<AppDelegate> weak = delegate_;
  const auto command = [weak](void (AppDelegate::*run)()) {
    return [weak, run] {
      if (auto delegate = weak.lock()) (delegate.get()->*run)();
    };
  };
  installMenu(app_, MenuCommands{command(&AppDelegate::installCLI), command(&AppDelegate::openHome),
                                 command(&AppDelegate::openLog), command(&AppDelegate::reload),
                                 [this] { quitOnSignal(this); }});
  delegate_->didFinishLaunching();
}

gboolean Application::quitOnSignal(gpointer data) {
  auto* self = static_cast<Application*>(data);
  if (self->frame_) self->frame_->save();
  if (g_main_depth() > 1) {
    // A modal dialog runs a loop of its own (a page's print dialog, a file chooser): the
    // application's loop would end only once the dialog closed, if ever. Stop the backend
    // and end here; the settings are already on disk.
    self->stopBackend();
    _exit(0);
  }
  g_application_quit(G_APPLICATION(self->app_));
  return G_SOURCE_CONTINUE;
}

void Application::stopBackend() {
  if (delegate_) {
    delegate_->willTerminate();
  } else if (backend_) {
    backend_->stop();  // started, but quit before the window came up
  }
}

void Application::shutdown(GtkApplication*, gpointer data) {
  auto* self = static_cast<Application*>(data);
  if (self->frame_) self->frame_->save();  // a move or resize not yet saved is not lost
  self->stopBackend();
}

}  // namespace brivok
