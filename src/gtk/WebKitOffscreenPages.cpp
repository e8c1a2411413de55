#include "gtk/WebKitOffscreenPages.h"

#include "gtk/UnwatchedPages.h"
#include "gtk/WebKitPage.h"
#include "signin/SignInData.h"

namespace brivok {
namespace {

bool sameShape(const OffscreenPageOptions& a, const OffscreenPageOptions& b) {
  return a.key == b.key && a.width == b.width && a.height == b.height &&
         a.newWindowsInPlace == b.newWindowsInPlace;
}

}  // namespace

WebKitOffscreenPages::~WebKitOffscreenPages() {
  g_clear_handle_id(&preparing_, g_source_remove);
  dropSpare();
}

WebKitOffscreenPages::Ready WebKitOffscreenPages::make(const OffscreenPageOptions& options) {
  auto store = stores_->forKey(options.key);
  auto* view = store->makeView();
  WebKitSettings* settings = webkit_web_view_get_settings(view);
  webkit_settings_set_user_agent(settings, signin::kUserAgent);
  webkit_settings_set_media_playback_requires_user_gesture(settings, TRUE);
  // Nothing of it is ever on screen: drawn without compositing it behaves the same (visible,
  // animation frames, scrolling) at well under half the memory per running page.
  webkit_settings_set_hardware_acceleration_policy(settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_web_view_set_is_muted(view, TRUE);
  governUnwatchedView(view, options.newWindowsInPlace);
  GtkWidget* host = gtk_offscreen_window_new();
  gtk_window_set_default_size(GTK_WINDOW(host), options.width, options.height);
  gtk_widget_set_size_request(GTK_WIDGET(view), options.width, options.height);
  gtk_container_add(GTK_CONTAINER(host), GTK_WIDGET(view));
  gtk_widget_show_all(host);
  return {options, std::move(store), view, host};
}

std::shared_ptr<WebPage> WebKitOffscreenPages::open(const OffscreenPageOptions& options) {
  // A view of its own for every page: a view that served another page keeps that page's
  // history and session storage, which the next job must never see.
  std::optional<Ready> ready;
  if (spare_ && sameShape(spare_->shape, options)) {
    ready = std::exchange(spare_, std::nullopt);
    g_clear_handle_id(&expiry_, g_source_remove);
  } else {
    ready = make(options);
  }
  if (options.key.empty()) prepareSpare(options);
  return std::make_shared<WebKitPage>(ready->view, std::move(ready->store), ready->host);
}

void WebKitOffscreenPages::prepareSpare(const OffscreenPageOptions& shape) {
  spareShape_ = shape;
  if (preparing_) return;
  // Once the page just asked for is under way.
  preparing_ = g_idle_add_full(
      G_PRIORITY_LOW,
      +[](gpointer data) -> gboolean {
        auto* self = static_cast<WebKitOffscreenPages*>(data);
        self->preparing_ = 0;
        self->dropSpare();
        self->spare_ = self->make(self->spareShape_);
        // Its session in the network process and its web process are started now, not when
        // the page is asked for: a script on the empty document launches the process, and
        // leaves no history behind.
        self->spare_->store->readCookies([](std::vector<Cookie>) {});
        webkit_web_view_evaluate_javascript(self->spare_->view, "0", -1, WebKitPage::kShellWorld,
                                            nullptr, nullptr, nullptr, nullptr);
        self->expiry_ = g_timeout_add_seconds(
            kSpareSeconds,
            +[](gpointer d) -> gboolean {
              auto* pages = static_cast<WebKitOffscreenPages*>(d);
              pages->expiry_ = 0;
              pages->dropSpare();
              return G_SOURCE_REMOVE;
            },
            self);
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
}

void WebKitOffscreenPages::dropSpare() {
  g_clear_handle_id(&expiry_, g_source_remove);
  if (!spare_) return;
  gtk_widget_destroy(spare_->host);
  spare_.reset();
}

}  // namespace brivok
