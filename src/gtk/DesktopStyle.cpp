#include "gtk/DesktopStyle.h"

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <cstring>

namespace brivok {
namespace {

constexpr const char* kInterfaceSchema = "org.gnome.desktop.interface";
constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kSettingsInterface = "org.freedesktop.portal.Settings";
constexpr const char* kAppearance = "org.freedesktop.appearance";

void preferDark(bool dark) {
  if (GtkSettings* settings = gtk_settings_get_default()) {
    g_object_set(settings, "gtk-application-prefer-dark-theme", dark, nullptr);
  }
}

// The portal's color-scheme: 1 is dark, 2 light, 0 no preference (light).
void applyPortalValue(GVariant* value) {
  while (value && g_variant_is_of_type(value, G_VARIANT_TYPE_VARIANT)) {
    GVariant* inner = g_variant_get_variant(value);
    g_variant_unref(value);
    value = inner;
  }
  if (!value) return;
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_UINT32))
    preferDark(g_variant_get_uint32(value) == 1);
  g_variant_unref(value);
}

void applySetting(GSettings* settings) {
  gchar* scheme = g_settings_get_string(settings, "color-scheme");
  preferDark(scheme && std::strcmp(scheme, "prefer-dark") == 0);
  g_free(scheme);
}

// GNOME's own key, where the desktop has it; for the whole run.
bool followSetting() {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  GSettingsSchema* schema =
      source ? g_settings_schema_source_lookup(source, kInterfaceSchema, TRUE) : nullptr;
  const bool has = schema && g_settings_schema_has_key(schema, "color-scheme");
  if (schema) g_settings_schema_unref(schema);
  if (!has) return false;
  GSettings* settings = g_settings_new(kInterfaceSchema);  // kept for the run
  applySetting(settings);
  g_signal_connect(settings, "changed::color-scheme",
                   G_CALLBACK(+[](GSettings* s, gchar*, gpointer) { applySetting(s); }), nullptr);
  return true;
}

// Once the portal has answered, it is what counts: its changes come as signals.
void portalAnswered(GObject* source, GAsyncResult* result, gpointer) {
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
  if (!reply) return;  // no portal, or one without the setting: GNOME's key stays in charge
  GVariant* value = nullptr;
  g_variant_get(reply, "(v)", &value);
  g_variant_unref(reply);
  applyPortalValue(value);
  g_dbus_connection_signal_subscribe(
      G_DBUS_CONNECTION(source), kPortal, kSettingsInterface, "SettingChanged", kPortalPath,
      nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
          GVariant* parameters, gpointer) {
        const gchar* ns = nullptr;
        const gchar* key = nullptr;
        GVariant* value = nullptr;
        g_variant_get(parameters, "(&s&sv)", &ns, &key, &value);
        if (g_strcmp0(ns, kAppearance) == 0 && g_strcmp0(key, "color-scheme") == 0) {
          applyPortalValue(value);
        } else if (value) {
          g_variant_unref(value);
        }
      },
      nullptr, nullptr);
}

}  // namespace

void followDesktopColorScheme() {
  // GNOME's key at once, so the first frame is already right; the portal, when it answers,
  // a moment later.
  followSetting();
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return;
  g_dbus_connection_call(bus, kPortal, kPortalPath, kSettingsInterface, "ReadOne",
                         g_variant_new("(ss)", kAppearance, "color-scheme"), G_VARIANT_TYPE("(v)"),
                         G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, portalAnswered, nullptr);
  g_object_unref(bus);  // the call and the subscription hold it
}

}  // namespace brivok
