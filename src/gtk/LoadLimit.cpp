#include "gtk/LoadLimit.h"

namespace brivok {

LoadLimit::LoadLimit(WebKitWebView* view, std::chrono::milliseconds limit)
    : view_(view), limit_(limit) {
  connections_.add(view_, "load-changed",
                   G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, gpointer data) {
                     if (event == WEBKIT_LOAD_FINISHED) static_cast<LoadLimit*>(data)->stop();
                   }),
                   this);
}

void LoadLimit::start() {
  stop();
  gaveUp_ = false;
  source_ = g_timeout_add(
      static_cast<guint>(limit_.count()),
      +[](gpointer data) -> gboolean {
        auto* self = static_cast<LoadLimit*>(data);
        self->source_ = 0;
        // A load that ended (finished or failed) took this source with it: this one is still
        // under way.
        self->gaveUp_ = true;
        webkit_web_view_stop_loading(self->view_);
        return G_SOURCE_REMOVE;
      },
      this);
}

void LoadLimit::stop() {
  g_clear_handle_id(&source_, g_source_remove);
}

}  // namespace brivok
