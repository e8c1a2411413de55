#include "gtk/DesktopUrlOpener.h"

#include <gio/gio.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace brivok {
namespace {

// As GTK decides it: inside a sandboxed package, or when the user asks for portals.
bool usePortal() {
  const char* asked = std::getenv("GTK_USE_PORTAL");
  return (asked && std::strcmp(asked, "1") == 0) ||
         g_file_test("/.flatpak-info", G_FILE_TEST_EXISTS) || std::getenv("SNAP");
}

}  // namespace

DesktopUrlOpener::DesktopUrlOpener(GtkWindow* parent) : parent_(parent) {
  if (parent_) g_object_add_weak_pointer(G_OBJECT(parent_), reinterpret_cast<gpointer*>(&parent_));
}

DesktopUrlOpener::~DesktopUrlOpener() {
  if (parent_) {
    g_object_remove_weak_pointer(G_OBJECT(parent_), reinterpret_cast<gpointer*>(&parent_));
  }
}

void DesktopUrlOpener::open(const std::string& url, Done done) {
  if (usePortal()) {
    // The portal's OpenURI: it asks the desktop, which brings the browser forward itself.
    GError* error = nullptr;
    const bool opened =
        gtk_show_uri_on_window(parent_, url.c_str(), gtk_get_current_event_time(), &error);
    if (error) g_error_free(error);
    if (done) done(opened);
    return;
  }
  GdkDisplay* display =
      parent_ ? gtk_widget_get_display(GTK_WIDGET(parent_)) : gdk_display_get_default();
  GdkAppLaunchContext* context = display ? gdk_display_get_app_launch_context(display) : nullptr;
  if (context) gdk_app_launch_context_set_timestamp(context, gtk_get_current_event_time());
  // Asynchronous, so a slow or missing handler never holds up the window.
  g_app_info_launch_default_for_uri_async(
      url.c_str(), context ? G_APP_LAUNCH_CONTEXT(context) : nullptr, nullptr,
      +[](GObject*, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Done> callback(static_cast<Done*>(data));
        const bool opened = g_app_info_launch_default_for_uri_finish(result, nullptr);
        if (*callback) (*callback)(opened);
      },
      new Done(std::move(done)));
  if (context) g_object_unref(context);
}

}  // namespace brivok
