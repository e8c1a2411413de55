#include "gtk/SignInPopups.h"

#include <optional>

#include "gtk/PagePolicy.h"
#include "gtk/Shortcuts.h"
#include "gtk/UnwatchedPages.h"
#include "signin/SignInData.h"

namespace brivok {

void SignInPopups::watch(WebKitWebView* view) {
  connections_.add(view, "create", G_CALLBACK(create), this);
  connections_.add(view, "script-dialog", G_CALLBACK(scriptDialog), this);
  g_signal_connect(view, "run-file-chooser", G_CALLBACK(refuseFileChooser), nullptr);
  withoutDownloadItems(view);
}

GtkWidget* SignInPopups::create(WebKitWebView* view, WebKitNavigationAction* action,
                                gpointer data) {
  auto* self = static_cast<SignInPopups*>(data);
  if (self->closing_ || !self->mayOpen_()) {
    // Nothing may wait for a user: the page goes on in the same window.
    webkit_web_view_load_request(view, webkit_navigation_action_get_request(action));
    return nullptr;
  }
  GtkWidget* popup = webkit_web_view_new_with_related_view(view);
  // A page that gives no size gets its opener's window size from the engine; remember that
  // size so it can be told apart from one the page asked for.
  GtkWidget* opener = gtk_widget_get_toplevel(GTK_WIDGET(view));
  if (GTK_IS_WINDOW(opener)) {
    int w = 0, h = 0;
    gtk_window_get_size(GTK_WINDOW(opener), &w, &h);
    g_object_set_data(G_OBJECT(popup), "opener-size", GINT_TO_POINTER((w << 16) | (h & 0xffff)));
  }
  webkit_settings_set_user_agent(webkit_web_view_get_settings(WEBKIT_WEB_VIEW(popup)),
                                 signin::kUserAgent);
  self->watch(WEBKIT_WEB_VIEW(popup));
  self->connections_.add(popup, "ready-to-show",
                         G_CALLBACK(+[](WebKitWebView* popupView, gpointer d) {
                           static_cast<SignInPopups*>(d)->show(popupView);
                         }),
                         self);
  return popup;
}

void SignInPopups::show(WebKitWebView* view) {
  WebKitWindowProperties* properties = webkit_web_view_get_window_properties(view);
  GdkRectangle geometry{0, 0, 0, 0};
  webkit_window_properties_get_geometry(properties, &geometry);
  const int openerSize = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(view), "opener-size"));
  if (openerSize && openerSize == ((geometry.width << 16) | (geometry.height & 0xffff))) {
    geometry.width = geometry.height = 0;
  }
  const int width = geometry.width > 0 ? geometry.width : signin::kPopupWidth;
  const int height = geometry.height > 0 ? geometry.height : signin::kPopupHeight;

  GtkWidget* popup = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  carryShortcuts(GTK_WINDOW(popup));
  gtk_window_set_title(GTK_WINDOW(popup), gtk_window_get_title(window_));
  gtk_window_set_transient_for(GTK_WINDOW(popup), window_);
  gtk_window_set_default_size(GTK_WINDOW(popup), width, height);
  gtk_container_add(GTK_CONTAINER(popup), GTK_WIDGET(view));

  Rect parent;
  gtk_window_get_position(window_, &parent.x, &parent.y);
  gtk_window_get_size(window_, &parent.width, &parent.height);
  std::optional<Rect> workArea;
  GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(window_));
  GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(window_));
  GdkMonitor* monitor = gdkWindow ? gdk_display_get_monitor_at_window(display, gdkWindow)
                                  : gdk_display_get_primary_monitor(display);
  if (monitor) {
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    workArea = Rect{area.x, area.y, area.width, area.height};
  }
  const auto [x, y] = signin::popupOrigin(parent, workArea, width, height);
  gtk_window_move(GTK_WINDOW(popup), x, y);

  connections_.add(popup, "delete-event", G_CALLBACK(+[](GtkWidget* w, GdkEvent*, gpointer d) {
                     static_cast<SignInPopups*>(d)->drop(w);
                     return TRUE;
                   }),
                   this);
  connections_.add(view, "close", G_CALLBACK(+[](WebKitWebView* v, gpointer d) {
                     static_cast<SignInPopups*>(d)->drop(gtk_widget_get_toplevel(GTK_WIDGET(v)));
                   }),
                   this);
  popups_.push_back(popup);
  gtk_widget_show_all(popup);
  gtk_window_present(GTK_WINDOW(popup));
}

void SignInPopups::drop(GtkWidget* window) {
  for (auto it = popups_.begin(); it != popups_.end(); ++it) {
    if (*it != window) continue;
    popups_.erase(it);
    gtk_widget_destroy(window);  // its handlers go with it
    return;
  }
}

void SignInPopups::closeAll() {
  while (!popups_.empty()) drop(popups_.front());
}

gboolean SignInPopups::scriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer data) {
  auto* self = static_cast<SignInPopups*>(data);
  showSignInDialog(self->window_, dialog, self->closing_);
  return TRUE;
}

}  // namespace brivok
