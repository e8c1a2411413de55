#include "gtk/WebKitOffscreenPages.h"

#include "gtk/UnwatchedPages.h"
#include "gtk/WebKitPage.h"
#include "signin/SignInData.h"

namespace brivok {

std::shared_ptr<WebPage> WebKitOffscreenPages::open(const OffscreenPageOptions& options) {
  // A view of its own for every page: a view that served another page keeps that page's
  // history and session storage, which the next job must never see.
  auto store = stores_->forKey(options.key);
  auto* view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(store->context()));
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
  return std::make_shared<WebKitPage>(view, std::move(store), host);
}

}  // namespace brivok
