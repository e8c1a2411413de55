#include "gtk/WebKitTarvelView.h"

#include <algorithm>
#include <cmath>

#include "app/StatusPage.h"
#include "gtk/PagePolicy.h"
#include "gtk/WebContexts.h"

namespace brivok {

namespace {

// The page's numbers are taken as they come, only kept to what a widget can be given.
int toPixels(double value, double low) {
  if (std::isnan(value)) return 0;
  return static_cast<int>(std::lround(std::clamp(value, low, 1e6)));
}

}  // namespace

WebKitTarvelView::WebKitTarvelView(GtkOverlay* overlay, WebKitWebView* page,
                                   const std::string& dataDir, const std::string& cacheDir,
                                   const std::string& domain,
                                   std::function<void(const std::string&)> openOutside)
    : overlay_(GTK_OVERLAY(g_object_ref(overlay))), page_(page) {
  WebKitWebContext* context = newPersistentContext(dataDir, cacheDir);
  view_ = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context));
  g_object_unref(context);  // the view holds it
  g_object_ref_sink(view_);
  limit_ = std::make_unique<LoadLimit>(view_);
  governor_ = governView(view_, domain, std::move(openOutside));
  // After the governor, which answers for outside addresses: the site's own address that does
  // not load gets a page that says why, never the engine's raw error.
  g_signal_connect(
      view_, "load-failed",
      G_CALLBACK(+[](WebKitWebView* view, WebKitLoadEvent, const char* uri, GError* error,
                     gpointer) -> gboolean {
        if (g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
            g_error_matches(error, WEBKIT_POLICY_ERROR,
                            WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE))
          return FALSE;
        const std::string html = secondarySiteProblemHtml(uri ? uri : "");
        webkit_web_view_load_alternate_html(view, html.c_str(), uri, nullptr);
        return TRUE;
      }),
      nullptr);
  // Composited drawing puts a view that reaches past the window's edge at the wrong place (a
  // view running past the bottom showed its content shifted down and blank above); drawn
  // without compositing, it sits at its rectangle exactly, clipped by the window.
  webkit_settings_set_hardware_acceleration_policy(webkit_web_view_get_settings(view_),
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  // Filling (the default alignment) so the view takes the whole rectangle it is given.
  connections_.add(overlay_, "get-child-position", G_CALLBACK(childPosition), this);
  if (page_) {
    connections_.add(page_, "notify::zoom-level",
                     G_CALLBACK(+[](GObject*, GParamSpec*, gpointer d) {
                       static_cast<WebKitTarvelView*>(d)->layOut();
                     }),
                     this);
  }
  connections_.add(
      view_, "web-process-terminated",
      G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason, gpointer data) {
        auto* self = static_cast<WebKitTarvelView*>(data);
        if (self->onStopped_) self->onStopped_();
      }),
      this);
  gtk_overlay_add_overlay(overlay_, GTK_WIDGET(view_));
}

WebKitTarvelView::~WebKitTarvelView() {
  connections_.clear();
  limit_.reset();
  g_signal_handlers_disconnect_by_data(view_, governor_);
  if (gtk_widget_get_parent(GTK_WIDGET(view_)) == GTK_WIDGET(overlay_)) {
    gtk_container_remove(GTK_CONTAINER(overlay_), GTK_WIDGET(view_));
  }
  g_object_unref(view_);
  g_object_unref(overlay_);
}

gboolean WebKitTarvelView::childPosition(GtkOverlay*, GtkWidget* child, GdkRectangle* allocation,
                                         gpointer data) {
  auto* self = static_cast<WebKitTarvelView*>(data);
  if (child != GTK_WIDGET(self->view_)) return FALSE;
  *allocation = self->frame_;
  return TRUE;
}

void WebKitTarvelView::loadUrl(const std::string& url) {
  limit_->start();
  webkit_web_view_load_uri(view_, url.c_str());
}

bool WebKitTarvelView::isLoading() const {
  return webkit_web_view_is_loading(view_);
}

void WebKitTarvelView::stopLoading() {
  webkit_web_view_stop_loading(view_);
}

void WebKitTarvelView::place(double x, double y, double width, double height) {
  // The overlay's origin is the main view's top left corner, as the page's rectangle is.
  css_[0] = x;
  css_[1] = y;
  css_[2] = width;
  css_[3] = height;
  layOut();
}

void WebKitTarvelView::layOut() {
  // A CSS pixel of the main view is `zoom` pixels of the window; the secondary site is shown
  // at the same zoom, so it reads as part of the page.
  const double zoom = page_ ? webkit_web_view_get_zoom_level(page_) : 1.0;
  if (webkit_web_view_get_zoom_level(view_) != zoom) webkit_web_view_set_zoom_level(view_, zoom);
  frame_ = {toPixels(css_[0] * zoom, -1e6), toPixels(css_[1] * zoom, -1e6),
            toPixels(css_[2] * zoom, 0), toPixels(css_[3] * zoom, 0)};
  gtk_widget_queue_resize(GTK_WIDGET(view_));
}

void WebKitTarvelView::setHidden(bool hidden) {
  gtk_widget_set_visible(GTK_WIDGET(view_), !hidden);
}

}  // namespace brivok
