#pragma once

#include <gtest/gtest.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace brivok::testing {

// Turns the GLib main loop until `done` holds or `seconds` have passed.
inline bool spin(const std::function<bool()>& done, double seconds = 20) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  // A ticking source so a blocking iteration never outlasts the deadline by much.
  const guint tick = g_timeout_add(
      10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  bool ok = true;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ok = false;
      break;
    }
    g_main_context_iteration(nullptr, TRUE);
  }
  g_source_remove(tick);
  return ok;
}

inline void pause(double seconds) {
  spin([] { return false; }, seconds);
}

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

// The local test sites, served on a free port for the length of a test suite.
class TestSites {
 public:
  TestSites() {
    GError* error = nullptr;
    const std::string script = std::string(BRIVOK_SOURCE_DIR) + "/tests/sites/server.py";
    process_ = g_subprocess_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE, &error, BRIVOK_PYTHON,
                                script.c_str(), nullptr);
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

 private:
  GSubprocess* process_ = nullptr;
  int port_ = 0;
};

}  // namespace brivok::testing
