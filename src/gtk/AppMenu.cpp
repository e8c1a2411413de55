#include "gtk/AppMenu.h"

#include <webkit2/webkit2.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/MenuModel.h"
#include "app/Zoom.h"
#include "gtk/WebSandbox.h"

namespace brivok {
namespace {

// The window the user works in: the one a shortcut was typed in, else the one with the
// keyboard focus, else the application's last active one. Never-shown windows do not count.
GtkWindow* focusedWindow(GtkApplication* app) {
  if (GdkEvent* event = gtk_get_current_event()) {
    GtkWidget* widget = event->type == GDK_KEY_PRESS ? gtk_get_event_widget(event) : nullptr;
    gdk_event_free(event);
    GtkWidget* top = widget ? gtk_widget_get_toplevel(widget) : nullptr;
    if (top && GTK_IS_WINDOW(top)) return GTK_WINDOW(top);
  }
  GtkWindow* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* l = windows; l && !found; l = l->next) {
    auto* w = GTK_WINDOW(l->data);
    if (!GTK_IS_OFFSCREEN_WINDOW(w) && gtk_widget_get_visible(GTK_WIDGET(w)) &&
        gtk_window_is_active(w)) {
      found = w;
    }
  }
  g_list_free(windows);
  return found ? found : gtk_application_get_active_window(app);
}

// Runs an edit command on the focused widget of the focused window.
void edit(GtkApplication* app, const char* webCommand, const char* signal) {
  GtkWindow* window = focusedWindow(app);
  GtkWidget* focus = window ? gtk_window_get_focus(window) : nullptr;
  if (!focus) return;
  if (WEBKIT_IS_WEB_VIEW(focus)) {
    webkit_web_view_execute_editing_command(WEBKIT_WEB_VIEW(focus), webCommand);
  } else if (g_strcmp0(signal, "select-all") == 0 && GTK_IS_EDITABLE(focus)) {
    gtk_editable_select_region(GTK_EDITABLE(focus), 0, -1);
  } else if (g_strcmp0(signal, "select-all") == 0 && GTK_IS_TEXT_VIEW(focus)) {
    g_signal_emit_by_name(focus, "select-all", TRUE);
  } else if (signal && g_signal_lookup(signal, G_OBJECT_TYPE(focus))) {
    g_signal_emit_by_name(focus, signal);  // GtkEntry, GtkTextView: the clipboard signals
  }
}

void showAbout(GtkApplication* app) {
  const char* authors[] = {"The Brivok team", nullptr};
  // Where web pages run without the engine's sandbox, the user can read it here.
  const std::string comments =
      std::string("Your agents and schedules, on your desktop.") +
      (webSandboxAvailable() ? "" : std::string("\n\n") + kNoSandboxNotice);
  gtk_show_about_dialog(focusedWindow(app), "program-name", "Brivok", "version", BRIVOK_VERSION,
                        "logo-icon-name", g_application_get_application_id(G_APPLICATION(app)),
                        "comments", comments.c_str(), "authors", authors, "copyright",
                        "Copyright \xC2\xA9 2026 Brivok", "license-type", GTK_LICENSE_CUSTOM,
                        "license", "Brivok is proprietary software. All rights reserved.", nullptr);
}

// The page of a window: its first web view (the main view, not the secondary site over it;
// a sign-in window's page).
WebKitWebView* pageOf(GtkWidget* widget) {
  if (!widget) return nullptr;
  if (WEBKIT_IS_WEB_VIEW(widget)) return WEBKIT_WEB_VIEW(widget);
  WebKitWebView* found = nullptr;
  if (GTK_IS_CONTAINER(widget)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* c = children; c && !found; c = c->next) found = pageOf(GTK_WIDGET(c->data));
    g_list_free(children);
  }
  return found;
}

void zoomPage(GtkWindow* window, int direction) {
  WebKitWebView* page = pageOf(GTK_WIDGET(window));
  if (!page) return;
  const double level =
      direction == 0 ? 1.0 : zoom::next(webkit_web_view_get_zoom_level(page), direction);
  webkit_web_view_set_zoom_level(page, level);
}

void forEachShownWindow(void (*run)(GtkWindow*)) {
  GList* windows = gtk_window_list_toplevels();
  for (GList* l = windows; l; l = l->next) {
    auto* w = GTK_WINDOW(l->data);
    if (!GTK_IS_OFFSCREEN_WINDOW(w) && gtk_widget_get_visible(GTK_WIDGET(w)) &&
        gtk_window_get_window_type(w) == GTK_WINDOW_TOPLEVEL) {
      run(w);
    }
  }
  g_list_free(windows);
}

bool isFullScreen(GtkWindow* window) {
  GdkWindow* gdk = window ? gtk_widget_get_window(GTK_WIDGET(window)) : nullptr;
  return gdk && (gdk_window_get_state(gdk) & GDK_WINDOW_STATE_FULLSCREEN);
}

void toggleFullScreen(GtkWindow* window) {
  if (isFullScreen(window)) {
    gtk_window_unfullscreen(window);
  } else {
    gtk_window_fullscreen(window);
  }
}

// The menu item shows a check mark while the window in front is in full screen.
void showFullScreenState(GtkApplication* app) {
  GAction* action = g_action_map_lookup_action(G_ACTION_MAP(app), "full-screen");
  if (!action) return;
  const bool on = isFullScreen(gtk_application_get_active_window(app));
  g_simple_action_set_state(G_SIMPLE_ACTION(action), g_variant_new_boolean(on));
}

void followFullScreen(GtkApplication* app) {
  const auto watch = +[](GtkApplication* application, GtkWindow* window) {
    g_signal_connect_object(window, "window-state-event",
                            G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) -> gboolean {
                              showFullScreenState(GTK_APPLICATION(data));
                              return FALSE;
                            }),
                            application, GConnectFlags(0));
  };
  GList* windows = gtk_application_get_windows(app);
  for (GList* l = windows; l; l = l->next) watch(app, GTK_WINDOW(l->data));
  g_signal_connect(app, "window-added", G_CALLBACK(watch), nullptr);
  g_signal_connect(app, "notify::active-window",
                   G_CALLBACK(+[](GtkApplication* application, GParamSpec*, gpointer) {
                     showFullScreenState(application);
                   }),
                   nullptr);
}

struct Actions {
  GtkApplication* app;
  MenuCommands commands;
};

void activated(GSimpleAction* action, GVariant*, gpointer data) {
  auto* actions = static_cast<Actions*>(data);
  GtkApplication* app = actions->app;
  const MenuCommands& c = actions->commands;
  const std::string name = g_action_get_name(G_ACTION(action));
  GtkWindow* window = focusedWindow(app);
  if (name == "about") {
    showAbout(app);
  } else if (name == "install-cli") {
    if (c.installCli) c.installCli();
  } else if (name == "open-home") {
    if (c.openHome) c.openHome();
  } else if (name == "open-log") {
    if (c.openLog) c.openLog();
  } else if (name == "hide") {
    forEachShownWindow(gtk_window_iconify);
  } else if (name == "quit") {
    if (c.quit) c.quit();
  } else if (name == "undo") {
    edit(app, WEBKIT_EDITING_COMMAND_UNDO, nullptr);
  } else if (name == "redo") {
    edit(app, WEBKIT_EDITING_COMMAND_REDO, nullptr);
  } else if (name == "cut") {
    edit(app, WEBKIT_EDITING_COMMAND_CUT, "cut-clipboard");
  } else if (name == "copy") {
    edit(app, WEBKIT_EDITING_COMMAND_COPY, "copy-clipboard");
  } else if (name == "paste") {
    edit(app, WEBKIT_EDITING_COMMAND_PASTE, "paste-clipboard");
  } else if (name == "select-all") {
    edit(app, WEBKIT_EDITING_COMMAND_SELECT_ALL, "select-all");
  } else if (name == "reload") {
    if (c.reload) c.reload();
  } else if (name == "zoom-in" || name == "zoom-out" || name == "zoom-reset") {
    if (window) zoomPage(window, name == "zoom-in" ? 1 : name == "zoom-out" ? -1 : 0);
  } else if (name == "full-screen") {
    if (window) toggleFullScreen(window);
  } else if (name == "minimize") {
    if (window) gtk_window_iconify(window);
  } else if (name == "close") {
    if (window) gtk_window_close(window);
  }
}

}  // namespace

void installMenu(GtkApplication* app, MenuCommands commands) {
  auto* actions = new Actions{app, std::move(commands)};
  g_object_set_data_full(G_OBJECT(app), "brivok-menu-actions", actions,
                         [](gpointer data) { delete static_cast<Actions*>(data); });
  GMenu* bar = g_menu_new();
  std::vector<std::pair<std::string, std::vector<std::string>>> shortcuts;
  for (const auto& menu : menuBar()) {
    GMenu* submenu = g_menu_new();
    GMenu* section = g_menu_new();
    for (const auto& item : menu.items) {
      if (item.title.empty()) {  // a separator: the next section
        g_menu_append_section(submenu, nullptr, G_MENU_MODEL(section));
        g_object_unref(section);
        section = g_menu_new();
        continue;
      }
      // Full screen is a state the item shows; the others are plain commands.
      GSimpleAction* action = item.action == "full-screen"
                                  ? g_simple_action_new_stateful(item.action.c_str(), nullptr,
                                                                 g_variant_new_boolean(FALSE))
                                  : g_simple_action_new(item.action.c_str(), nullptr);
      g_signal_connect(action, "activate", G_CALLBACK(activated), actions);
      g_action_map_add_action(G_ACTION_MAP(app), G_ACTION(action));
      g_object_unref(action);
      const std::string detailed = "app." + item.action;
      GMenuItem* entry = g_menu_item_new(item.title.c_str(), detailed.c_str());
      if (!item.key.empty()) {
        const std::string accel = accelerator(item.key);
        g_menu_item_set_attribute(entry, "accel", "s", accel.c_str());
        // The focused widget keeps these keys: the engine and the entries handle them
        // themselves, and a shortcut would take them first.
        const bool ownKeys = item.action == "cut" || item.action == "copy" ||
                             item.action == "paste" || item.action == "select-all";
        if (!ownKeys) {
          // Besides the key shown, the ones other programs use for the same.
          std::vector<std::string> keys{accel};
          if (item.action == "full-screen") keys.emplace_back("F11");
          if (item.action == "zoom-in")
            keys.insert(keys.end(), {"<Primary>equal", "<Primary>KP_Add"});
          if (item.action == "zoom-out") keys.emplace_back("<Primary>KP_Subtract");
          if (item.action == "zoom-reset") keys.emplace_back("<Primary>KP_0");
          shortcuts.emplace_back(detailed, std::move(keys));
        }
      }
      g_menu_append_item(section, entry);
      g_object_unref(entry);
    }
    g_menu_append_section(submenu, nullptr, G_MENU_MODEL(section));
    g_object_unref(section);
    g_menu_append_submenu(bar, menu.title.empty() ? "Brivok" : menu.title.c_str(),
                          G_MENU_MODEL(submenu));
    g_object_unref(submenu);
  }
  gtk_application_set_menubar(app, G_MENU_MODEL(bar));
  g_object_unref(bar);
  // After the menu bar: the toolkit takes each item's shown key as its only shortcut when the
  // bar is set, which would drop the second one (F11).
  for (const auto& [action, keys] : shortcuts) {
    std::vector<const char*> accels;
    for (const auto& key : keys) accels.push_back(key.c_str());
    accels.push_back(nullptr);
    gtk_application_set_accels_for_action(app, action.c_str(), accels.data());
  }
  followFullScreen(app);
}

}  // namespace brivok
