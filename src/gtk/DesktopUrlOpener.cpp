#include "gtk/DesktopUrlOpener.h"

#include <gio/gio.h>

namespace brivok {

void DesktopUrlOpener::open(const std::string& url) {
  // Asynchronous, so a slow or missing handler never holds up the window.
  g_app_info_launch_default_for_uri_async(url.c_str(), nullptr, nullptr, nullptr, nullptr);
}

}  // namespace brivok
