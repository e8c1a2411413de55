#include "gtk/WebContexts.h"

#include <unistd.h>

#include "bridge/LoopbackProxy.h"
#include "core/Files.h"
#include "gtk/WebProcessWatch.h"
#include "gtk/WebSandbox.h"

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

// Before the context's first view: its web processes start in the sandbox, with nothing of
// the user's files beyond what the engine itself binds.
void sandbox(WebKitWebContext* context) {
  webkit_web_context_set_sandbox_enabled(context, webSandboxAvailable());
  watchWebProcessMemory(std::size_t{unwatchedMemoryLimitMiB()} * 1024 * 1024);
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

unsigned unwatchedMemoryLimitMiB() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long size = sysconf(_SC_PAGESIZE);
  const unsigned long long total =
      pages > 0 && size > 0 ? static_cast<unsigned long long>(pages) * size : 0;
  const unsigned long long quarter = total / 4 / (1024 * 1024);
  return quarter > 0 && quarter < 2048 ? static_cast<unsigned>(quarter) : 2048;
}

WebKitWebContext* newPersistentContext(const std::string& dataDir, const std::string& cacheDir,
                                       bool limitMemory) {
  WebKitWebsiteDataManager* manager = webkit_website_data_manager_new(
      "base-data-directory", dataDir.c_str(), "base-cache-directory", cacheDir.c_str(), nullptr);
  WebKitMemoryPressureSettings* memory = nullptr;
  if (limitMemory) {
    // Relief (caches dropped, collection) only close to the limit, then the end: checked often,
    // so a page that allocates without end overshoots it little.
    memory = webkit_memory_pressure_settings_new();
    webkit_memory_pressure_settings_set_memory_limit(memory, unwatchedMemoryLimitMiB());
    webkit_memory_pressure_settings_set_strict_threshold(memory, 0.9);  // above conservative
    webkit_memory_pressure_settings_set_conservative_threshold(memory, 0.8);
    webkit_memory_pressure_settings_set_kill_threshold(memory, 1.0);
    webkit_memory_pressure_settings_set_poll_interval(memory, 0.25);
  }
  auto* context =
      WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", manager,
                                      "memory-pressure-settings", memory, nullptr));
  if (memory) webkit_memory_pressure_settings_free(memory);
  sandbox(context);
  webkit_cookie_manager_set_persistent_storage(
      webkit_website_data_manager_get_cookie_manager(manager),
      (dataDir + "/cookies.sqlite").c_str(), WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
  g_object_unref(manager);  // the context holds it from here on
  refuseDownloads(context);
  return context;
}

WebKitWebContext* newEphemeralContext() {
  WebKitWebContext* context = webkit_web_context_new_ephemeral();
  sandbox(context);
  refuseDownloads(context);
  return context;
}

}  // namespace brivok
