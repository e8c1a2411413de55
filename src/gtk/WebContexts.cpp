#include "gtk/WebContexts.h"

#include "bridge/LoopbackProxy.h"
#include "core/Files.h"

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

// The desktop's proxy settings, where the desktop keeps any.
std::optional<DesktopProxy> desktopProxy() {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  GSettingsSchema* schema =
      source ? g_settings_schema_source_lookup(source, "org.gnome.system.proxy", TRUE) : nullptr;
  if (!schema) return std::nullopt;
  g_settings_schema_unref(schema);
  DesktopProxy out;
  GSettings* settings = g_settings_new("org.gnome.system.proxy");
  gchar* mode = g_settings_get_string(settings, "mode");
  out.mode = mode ? mode : "";
  g_free(mode);
  gchar** ignore = g_settings_get_strv(settings, "ignore-hosts");
  for (gchar** h = ignore; h && *h; ++h) out.ignoreHosts.emplace_back(*h);
  g_strfreev(ignore);
  const auto read = [settings](const char* child, std::string& host, int& port) {
    GSettings* part = g_settings_get_child(settings, child);
    gchar* h = g_settings_get_string(part, "host");
    host = h ? h : "";
    g_free(h);
    port = g_settings_get_int(part, "port");
    g_object_unref(part);
  };
  read("http", out.httpHost, out.httpPort);
  read("https", out.httpsHost, out.httpsPort);
  read("socks", out.socksHost, out.socksPort);
  g_object_unref(settings);
  return out;
}

}  // namespace

void keepLoopbackDirect(WebKitWebContext* context) {
  const auto choice = proxiesKeepingLoopbackDirect(processEnvironment(), desktopProxy());
  if (!choice) return;
  std::vector<const char*> ignore;
  for (const auto& host : choice->ignoreHosts) ignore.push_back(host.c_str());
  ignore.push_back(nullptr);
  WebKitNetworkProxySettings* settings = webkit_network_proxy_settings_new(
      choice->defaultProxy.empty() ? nullptr : choice->defaultProxy.c_str(), ignore.data());
  for (const auto& [scheme, proxy] : choice->schemes) {
    webkit_network_proxy_settings_add_proxy_for_scheme(settings, scheme.c_str(), proxy.c_str());
  }
  webkit_website_data_manager_set_network_proxy_settings(
      webkit_web_context_get_website_data_manager(context), WEBKIT_NETWORK_PROXY_MODE_CUSTOM,
      settings);
  webkit_network_proxy_settings_free(settings);
}

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
