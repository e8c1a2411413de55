#include "gtk/DesktopUrlOpener.h"

#include <gio/gio.h>

#include <memory>

namespace brivok {

void DesktopUrlOpener::open(const std::string& url, Done done) {
  // Asynchronous, so a slow or missing handler never holds up the window.
  g_app_info_launch_default_for_uri_async(
      url.c_str(), nullptr, nullptr,
      +[](GObject*, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Done> callback(static_cast<Done*>(data));
        const bool opened = g_app_info_launch_default_for_uri_finish(result, nullptr);
        if (*callback) (*callback)(opened);
      },
      new Done(std::move(done)));
}

}  // namespace brivok
