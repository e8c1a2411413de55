#pragma once

#include <gtest/gtest.h>
#include <libsoup/soup.h>
#include <sys/prctl.h>

#include <webkit2/webkit2.h>
#include <csignal>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "RecordingOpener.h"
#include "Spin.h"
#include "gtk/GlibEventLoop.h"
#include "gtk/WebProcessWatch.h"
#include "platform/AppWindow.h"
#include "signin/SignInController.h"

namespace brivok::testing {

// Runs script in the page's own world and gives its result as JSON text.
inline std::optional<std::string> evaluate(WebKitWebView* view, const std::string& script) {
  struct Result {
    bool done = false;
    std::optional<std::string> json;
  } result;
  webkit_web_view_evaluate_javascript(
      view, script.c_str(), -1, nullptr, nullptr, nullptr,
      [](GObject* source, GAsyncResult* res, gpointer data) {
        auto* r = static_cast<Result*>(data);
        GError* error = nullptr;
        JSCValue* value =
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), res, &error);
        if (value) {
          char* json = jsc_value_to_json(value, 0);
          r->json = json ? json : "undefined";
          g_free(json);
          g_object_unref(value);
        }
        if (error) g_error_free(error);
        r->done = true;
      },
      &result);
  spin([&] { return result.done; }, 10);
  return result.json;
}

// Waits until the view has finished loading `uriPrefix...` and the document is complete.
inline bool waitForPage(WebKitWebView* view, const std::string& uriPrefix, double seconds = 20) {
  return spin(
      [&] {
        if (webkit_web_view_is_loading(view)) return false;
        const char* uri = webkit_web_view_get_uri(view);
        if (!uri || std::string(uri).rfind(uriPrefix, 0) != 0) return false;
        return evaluate(view, "document.readyState") == "\"complete\"";
      },
      seconds);
}

inline std::string bodyText(WebKitWebView* view) {
  return evaluate(view, "document.body ? document.body.innerText : ''").value_or("");
}

// A click (left unless told) at (x, y) of a widget, delivered as the windowing system would:
// pages take it for a user's gesture.
inline void clickAt(GtkWidget* widget, int x, int y, guint button = 1) {
  GdkWindow* window = gtk_widget_get_window(widget);
  GdkDevice* pointer =
      gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_window_get_display(window)));
  for (GdkEventType type : {GDK_MOTION_NOTIFY, GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
    GdkEvent* event = gdk_event_new(type);
    event->any.window = GDK_WINDOW(g_object_ref(window));
    event->any.send_event = TRUE;
    if (type == GDK_MOTION_NOTIFY) {
      event->motion.x = x;
      event->motion.y = y;
      event->motion.time = GDK_CURRENT_TIME;
    } else {
      event->button.x = x;
      event->button.y = y;
      event->button.button = button;
      event->button.time = GDK_CURRENT_TIME;
    }
    gdk_event_set_device(event, pointer);
    gtk_main_do_event(event);
    gdk_event_free(event);
    pause(0.05);
  }
}

// A key pressed and released on `widget`'s window, as the windowing system would deliver it.
inline void pressKey(GtkWidget* widget, guint keyval, GdkModifierType state = GdkModifierType(0)) {
  GdkWindow* window = gtk_widget_get_window(gtk_widget_get_toplevel(widget));
  GdkDisplay* display = gdk_window_get_display(window);
  GdkDevice* keyboard = gdk_seat_get_keyboard(gdk_display_get_default_seat(display));
  GdkKeymapKey* keys = nullptr;
  gint count = 0;
  gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &count);
  for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
    GdkEvent* event = gdk_event_new(type);
    event->key.window = GDK_WINDOW(g_object_ref(window));
    event->key.send_event = TRUE;
    event->key.time = GDK_CURRENT_TIME;
    event->key.keyval = keyval;
    event->key.state = state;
    event->key.hardware_keycode = count > 0 ? static_cast<guint16>(keys[0].keycode) : 0;
    gdk_event_set_device(event, keyboard);
    gtk_main_do_event(event);
    gdk_event_free(event);
  }
  g_free(keys);
  pause(0.05);
}

// The first widget under `root` (itself included) for which `match` holds.
inline GtkWidget* findWidget(GtkWidget* root, const std::function<bool(GtkWidget*)>& match) {
  if (match(root)) return root;
  GtkWidget* found = nullptr;
  if (GTK_IS_CONTAINER(root)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(root));
    for (GList* c = children; c && !found; c = c->next)
      found = findWidget(GTK_WIDGET(c->data), match);
    g_list_free(children);
  }
  return found;
}

// The first shown top-level window for which `match` holds.
inline GtkWidget* findWindow(const std::function<bool(GtkWindow*)>& match) {
  GtkWidget* found = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* l = windows; l && !found; l = l->next) {
    if (gtk_widget_get_visible(GTK_WIDGET(l->data)) && match(GTK_WINDOW(l->data))) {
      found = GTK_WIDGET(l->data);
    }
  }
  g_list_free(windows);
  return found;
}

// The web view in the shown window with this title.
inline WebKitWebView* webViewIn(const char* title) {
  GtkWidget* window =
      findWindow([title](GtkWindow* w) { return g_strcmp0(gtk_window_get_title(w), title) == 0; });
  return window ? WEBKIT_WEB_VIEW(
                      findWidget(window, [](GtkWidget* w) { return WEBKIT_IS_WEB_VIEW(w); }))
                : nullptr;
}

// A sign-in window shown as the shell shows one, and the web view of its page (null when the
// window did not come up). Its page may still be loading.
struct ShownSignIn {
  std::shared_ptr<SignInController> controller;
  WebKitWebView* view = nullptr;
};
inline ShownSignIn showSignIn(SignInWindows& windows, const std::string& url,
                              const std::string& title,
                              const std::vector<std::string>& domains = {},
                              const std::string& key = "",
                              SignInController::FinishCallback onFinish = nullptr) {
  auto c = SignInController::create(windows, std::make_shared<GlibEventLoop>(), url, title, domains,
                                    key);
  c->onFinish = onFinish ? std::move(onFinish)
                         : [](const std::optional<nlohmann::json>&, const std::string&) {};
  c->show();
  return {c, webViewIn(title.c_str())};
}

inline std::string mountNamespace(pid_t pid) {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/ns/mnt", error);
}

// The local test sites, served on a free port for the length of a test suite.
class TestSites {
 public:
  TestSites() {
    GError* error = nullptr;
    const std::string script = std::string(BRIVOK_SOURCE_DIR) + "/tests/sites/server.py";
    // The sites end with the tests, even when a test run ends by a crash.
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE);
    g_subprocess_launcher_set_child_setup(
        launcher, [](gpointer) { prctl(PR_SET_PDEATHSIG, SIGKILL); }, nullptr, nullptr);
    process_ =
        g_subprocess_launcher_spawn(launcher, &error, BRIVOK_PYTHON, script.c_str(), nullptr);
    g_object_unref(launcher);
    if (!process_) {
      ADD_FAILURE() << "could not start the test sites: " << (error ? error->message : "");
      return;
    }
    GDataInputStream* in = g_data_input_stream_new(g_subprocess_get_stdout_pipe(process_));
    char* line = g_data_input_stream_read_line(in, nullptr, nullptr, nullptr);
    port_ = line ? std::atoi(line) : 0;
    g_free(line);
    g_object_unref(in);
  }
  ~TestSites() {
    if (process_) {
      g_subprocess_force_exit(process_);
      g_subprocess_wait(process_, nullptr, nullptr);
      g_object_unref(process_);
    }
  }
  std::string origin(const char* host = "127.0.0.1") const {
    return std::string("http://") + host + ":" + std::to_string(port_);
  }
  // The body of a page of the sites, straight from the server (no proxy, no web view).
  std::string fetch(const std::string& path) const {
    SoupSession* session = soup_session_new();
    soup_session_set_proxy_resolver(session, nullptr);
    SoupMessage* message = soup_message_new("GET", (origin() + path).c_str());
    GBytes* body = soup_session_send_and_read(session, message, nullptr, nullptr);
    std::string out;
    if (body) {
      gsize size = 0;
      const auto* data = static_cast<const char*>(g_bytes_get_data(body, &size));
      out.assign(data, size);
      g_bytes_unref(body);
    }
    g_object_unref(message);
    g_object_unref(session);
    return out;
  }

 private:
  GSubprocess* process_ = nullptr;
  int port_ = 0;
};

// A plain top-level window around the content under test.
class ShownWindow : public AppWindow {
 public:
  explicit ShownWindow(GtkWidget* content) : window_(gtk_window_new(GTK_WINDOW_TOPLEVEL)) {
    gtk_window_set_default_size(GTK_WINDOW(window_), 800, 600);
    gtk_container_add(GTK_CONTAINER(window_), content);
  }
  ~ShownWindow() override { gtk_widget_destroy(window_); }
  void present() override {
    gtk_widget_show_all(window_);
    ++presented;
  }
  void alert(const std::string& message, const std::string&) override { alerts.push_back(message); }
  std::vector<std::string> alerts;
  GtkWindow* window() const { return GTK_WINDOW(window_); }
  int presented = 0;

 private:
  GtkWidget* window_;
};

}  // namespace brivok::testing
