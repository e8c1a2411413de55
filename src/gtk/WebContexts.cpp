#include "gtk/WebContexts.h"

namespace brivok {
namespace {

gboolean refuseDestination(WebKitDownload* download, gchar*, gpointer) {
  webkit_download_cancel(download);
  return TRUE;
}

void refuseDownloads(WebKitWebContext* context) {
  g_signal_connect(context, "download-started",
                   G_CALLBACK(+[](WebKitWebContext*, WebKitDownload* download, gpointer) {
                     // Asked again before a destination is chosen, in case the cancel is
                     // not yet in effect there.
                     g_signal_connect(download, "decide-destination", G_CALLBACK(refuseDestination),
                                      nullptr);
                     webkit_download_cancel(download);
                   }),
                   nullptr);
}

}  // namespace

WebKitWebContext* newPersistentContext(const std::string& dataDir, const std::string& cacheDir) {
  WebKitWebsiteDataManager* manager = webkit_website_data_manager_new(
      "base-data-directory", dataDir.c_str(), "base-cache-directory", cacheDir.c_str(), nullptr);
  WebKitWebContext* context = webkit_web_context_new_with_website_data_manager(manager);
  webkit_cookie_manager_set_persistent_storage(
      webkit_website_data_manager_get_cookie_manager(manager),
      (dataDir + "/cookies.sqlite").c_str(), WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
  g_object_unref(manager);  // the context holds it from here on
  refuseDownloads(context);
  return context;
}

WebKitWebContext* newEphemeralContext() {
  WebKitWebContext* context = webkit_web_context_new_ephemeral();
  refuseDownloads(context);
  return context;
}

}  // namespace brivok
