#include "gtk/WebKitPage.h"

#include "bridge/NavigationPolicy.h"
#include "core/Url.h"
#include "gtk/GtkLifetimes.h"
#include "platform/PageLoader.h"

namespace brivok {

WebKitPage::WebKitPage(WebKitWebView* view, std::shared_ptr<WebsiteStore> store, GtkWidget* host)
    : view_(WEBKIT_WEB_VIEW(g_object_ref(view))),
      store_(std::move(store)),
      host_(host),
      limit_(view_) {
  connections_.add(view_, "load-changed", G_CALLBACK(loadChanged), this);
  connections_.add(view_, "load-failed", G_CALLBACK(loadFailed), this);
  connections_.add(view_, "web-process-terminated", G_CALLBACK(processGone), this);
}

void WebKitPage::processGone(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer data) {
  auto* self = static_cast<WebKitPage*>(data);
  if (self->closed_) return;  // its own end
  self->limit_.stop();
  self->awaitingWeb_ = false;
  if (auto events = self->events_.lock()) events->pageStopped();
}

WebKitPage::~WebKitPage() {
  limit_.stop();
  g_clear_handle_id(&answering_, g_source_remove);
  connections_.clear();
  if (host_) {
    if (!closed_) {
      webkit_web_view_stop_loading(view_);
      webkit_web_view_terminate_web_process(view_);
    }
    destroyWhenIdle(host_);
  }
  g_object_unref(view_);
}

void WebKitPage::load(const std::string& url) {
  awaitingWeb_ = isWebAddress(url);
  limit_.start();
  // Credentials written in the address serve this load alone: they go with its request (and
  // the engine's redirects of it within the same origin) as HTTP Basic, so the store that
  // later pages of the key share never learns them.
  const auto parsed = Url::parse(url);
  if (!parsed || !parsed->userinfo || !isWebAddress(url)) {
    webkit_web_view_load_uri(view_, url.c_str());
    return;
  }
  WebKitURIRequest* request = webkit_uri_request_new(withoutUserinfo(url).c_str());
  if (!parsed->userinfo->empty()) {
    std::string pair = percentDecoded(*parsed->userinfo);
    if (pair.find(':') == std::string::npos) pair += ':';
    gchar* encoded = g_base64_encode(reinterpret_cast<const guchar*>(pair.data()), pair.size());
    soup_message_headers_replace(webkit_uri_request_get_http_headers(request), "Authorization",
                                 (std::string("Basic ") + encoded).c_str());
    g_free(encoded);
  }
  webkit_web_view_load_request(view_, request);
  g_object_unref(request);
}

void WebKitPage::fail(bool cancelled) {
  limit_.stop();
  awaitingWeb_ = false;
  if (auto events = events_.lock()) events->loadFailed(cancelled);
}

void WebKitPage::loadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
  auto* self = static_cast<WebKitPage*>(data);
  const char* uri = webkit_web_view_get_uri(view);
  const std::string url = uri ? uri : "";
  if (event == WEBKIT_LOAD_COMMITTED) {
    // A load the engine refuses without a failure (a blocked port) commits about:blank.
    if (self->awaitingWeb_) {
      self->awaitingWeb_ = false;
      if (!isWebAddress(url)) {
        self->fail(false);
        return;
      }
    }
    if (auto events = self->events_.lock()) events->loadCommitted(url);
  } else if (event == WEBKIT_LOAD_FINISHED) {
    self->limit_.stop();
    if (auto events = self->events_.lock()) events->loadFinished();
  }
}

gboolean WebKitPage::loadFailed(WebKitWebView*, WebKitLoadEvent, const char*, GError* error,
                                gpointer data) {
  auto* self = static_cast<WebKitPage*>(data);
  const bool cancelled =
      g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) &&
      !self->limit_.gaveUp();
  self->fail(cancelled);
  return FALSE;
}

void WebKitPage::evaluate(const std::string& script, ScriptDone done) {
  if (closed_) {
    // A closed page answers nothing, but still answers later, as a live one would.
    if (done) {
      unanswered_.push_back(std::move(done));
      if (!answering_) {
        answering_ = g_idle_add(
            +[](gpointer data) -> gboolean {
              auto* self = static_cast<WebKitPage*>(data);
              self->answering_ = 0;
              for (auto& answer : std::exchange(self->unanswered_, {})) answer(std::nullopt);
              return G_SOURCE_REMOVE;
            },
            this);
      }
    }
    return;
  }
  GAsyncReadyCallback answered = nullptr;
  ScriptDone* box = nullptr;
  if (done) {
    box = new ScriptDone(std::move(done));
    answered = +[](GObject* source, GAsyncResult* result, gpointer data) {
      std::unique_ptr<ScriptDone> callback(static_cast<ScriptDone*>(data));
      JSCValue* value =
          webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
      std::optional<nlohmann::json> out;
      if (value && jsc_value_is_string(value)) {
        char* text = jsc_value_to_string(value);
        std::string s = text ? text : "";
        g_free(text);
        out = nlohmann::json(std::move(s));
      } else if (value && jsc_value_is_boolean(value)) {
        out = nlohmann::json(static_cast<bool>(jsc_value_to_boolean(value)));
      } else if (value && jsc_value_is_number(value)) {
        out = nlohmann::json(jsc_value_to_double(value));
      }
      if (value) g_object_unref(value);
      (*callback)(std::move(out));
    };
  }
  // In a script world of the shell's own: the page shares the document with it, but none of
  // the page's replacements (JSON.stringify, a title getter, the value setter) reach it.
  webkit_web_view_evaluate_javascript(view_, script.c_str(), static_cast<gssize>(script.size()),
                                      kShellWorld, nullptr, nullptr, answered, box);
}

std::string WebKitPage::url() const {
  const char* uri = webkit_web_view_get_uri(view_);
  return uri ? uri : "";
}

std::string WebKitPage::title() const {
  const char* title = webkit_web_view_get_title(view_);
  return title ? title : "";
}

bool WebKitPage::isLoading() const {
  return webkit_web_view_is_loading(view_);
}

void WebKitPage::close() {
  if (closed_) return;
  closed_ = true;
  limit_.stop();
  events_.reset();
  webkit_web_view_stop_loading(view_);
  // Also ends a script that never yields: its pending evaluations fail at once.
  if (host_) webkit_web_view_terminate_web_process(view_);
}

}  // namespace brivok
