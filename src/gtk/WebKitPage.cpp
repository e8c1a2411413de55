#include "gtk/WebKitPage.h"

#include <cmath>

#include "signin/SignInData.h"

namespace brivok {

void destroyWhenIdle(GtkWidget* window) {
  g_idle_add(
      +[](gpointer data) -> gboolean {
        gtk_widget_destroy(GTK_WIDGET(data));
        return G_SOURCE_REMOVE;
      },
      window);
}

// ---- the website store -------------------------------------------------------------------

WebKitStore::WebKitStore(WebKitWebContext* context)
    : context_(WEBKIT_WEB_CONTEXT(g_object_ref(context))) {}

WebKitStore::~WebKitStore() {
  g_object_unref(context_);
}

WebKitCookieManager* WebKitStore::cookies() const {
  return webkit_website_data_manager_get_cookie_manager(
      webkit_web_context_get_website_data_manager(context_));
}

void WebKitStore::readCookies(std::function<void(std::vector<Cookie>)> done) {
  using Done = std::function<void(std::vector<Cookie>)>;
  webkit_cookie_manager_get_all_cookies(
      cookies(), nullptr,
      +[](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Done> callback(static_cast<Done*>(data));
        GList* list = webkit_cookie_manager_get_all_cookies_finish(WEBKIT_COOKIE_MANAGER(source),
                                                                   result, nullptr);
        std::vector<Cookie> out;
        for (GList* l = list; l; l = l->next) {
          auto* c = static_cast<SoupCookie*>(l->data);
          Cookie cookie;
          cookie.name = soup_cookie_get_name(c);
          cookie.value = soup_cookie_get_value(c);
          cookie.domain = soup_cookie_get_domain(c);
          cookie.path = soup_cookie_get_path(c);
          cookie.secure = soup_cookie_get_secure(c);
          if (GDateTime* expires = soup_cookie_get_expires(c)) {
            cookie.expires = static_cast<double>(g_date_time_to_unix(expires)) +
                             g_date_time_get_microsecond(expires) / 1e6;
          }
          out.push_back(std::move(cookie));
        }
        g_list_free_full(list, reinterpret_cast<GDestroyNotify>(soup_cookie_free));
        if (*callback) (*callback)(std::move(out));
      },
      new Done(std::move(done)));
}

void WebKitStore::addCookie(const Cookie& cookie, std::function<void()> done) {
  SoupCookie* c = soup_cookie_new(cookie.name.c_str(), cookie.value.c_str(), cookie.domain.c_str(),
                                  cookie.path.c_str(), -1);
  soup_cookie_set_secure(c, cookie.secure);
  if (cookie.expires) {
    const double seconds = std::floor(*cookie.expires);
    GDateTime* whole = g_date_time_new_from_unix_utc(static_cast<gint64>(seconds));
    if (whole) {
      GDateTime* exact = g_date_time_add(
          whole, static_cast<GTimeSpan>(std::llround((*cookie.expires - seconds) * 1e6)));
      soup_cookie_set_expires(c, exact ? exact : whole);
      if (exact) g_date_time_unref(exact);
      g_date_time_unref(whole);
    }
  }
  using Done = std::function<void()>;
  webkit_cookie_manager_add_cookie(
      cookies(), c, nullptr,
      +[](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Done> callback(static_cast<Done*>(data));
        webkit_cookie_manager_add_cookie_finish(WEBKIT_COOKIE_MANAGER(source), result, nullptr);
        if (*callback) (*callback)();
      },
      new Done(std::move(done)));
  soup_cookie_free(c);
}

void WebKitStore::clear() {
  webkit_website_data_manager_clear(webkit_web_context_get_website_data_manager(context_),
                                    WEBKIT_WEBSITE_DATA_ALL, 0, nullptr, nullptr, nullptr);
}

// ---- the page -----------------------------------------------------------------------------

WebKitPage::WebKitPage(WebKitWebView* view, std::shared_ptr<WebsiteStore> store)
    : view_(WEBKIT_WEB_VIEW(g_object_ref(view))), store_(std::move(store)) {
  g_signal_connect(view_, "load-changed", G_CALLBACK(loadChanged), this);
  g_signal_connect(view_, "load-failed", G_CALLBACK(loadFailed), this);
}

WebKitPage::~WebKitPage() {
  stopLimit();
  g_signal_handlers_disconnect_by_data(view_, this);
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
  const std::string scheme = url.substr(0, url.find(':'));
  awaitingWeb_ = scheme == "http" || scheme == "https";
  gaveUp_ = false;
  stopLimit();
  limit_ = g_timeout_add_seconds(
      kLoadLimitSeconds,
      +[](gpointer data) -> gboolean {
        auto* self = static_cast<WebKitPage*>(data);
        self->limit_ = 0;
        if (webkit_web_view_is_loading(self->view_)) {
          self->gaveUp_ = true;
          webkit_web_view_stop_loading(self->view_);
        }
        return G_SOURCE_REMOVE;
      },
      this);
  webkit_web_view_load_uri(view_, url.c_str());
}

void WebKitPage::stopLimit() {
  if (limit_) g_source_remove(std::exchange(limit_, 0));
}

void WebKitPage::fail(bool cancelled) {
  stopLimit();
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
      if (url.rfind("http:", 0) != 0 && url.rfind("https:", 0) != 0) {
        self->fail(false);
        return;
      }
    }
    if (auto events = self->events_.lock()) events->loadCommitted(url);
  } else if (event == WEBKIT_LOAD_FINISHED) {
    self->stopLimit();
    if (auto events = self->events_.lock()) events->loadFinished();
  }
}

gboolean WebKitPage::loadFailed(WebKitWebView*, WebKitLoadEvent, const char*, GError* error,
                                gpointer data) {
  auto* self = static_cast<WebKitPage*>(data);
  const bool cancelled =
      g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) &&
      !self->gaveUp_;
  self->fail(cancelled);
  return FALSE;
}

void WebKitPage::evaluate(const std::string& script, ScriptDone done) {
  if (closed_) {
    // A closed page answers nothing, but still answers later, as a live one would.
    if (done) {
      g_idle_add_full(
          G_PRIORITY_DEFAULT,
          +[](gpointer data) -> gboolean {
            (*static_cast<ScriptDone*>(data))(std::nullopt);
            return G_SOURCE_REMOVE;
          },
          new ScriptDone(std::move(done)),
          +[](gpointer data) { delete static_cast<ScriptDone*>(data); });
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
  stopLimit();
  events_.reset();
  webkit_web_view_stop_loading(view_);
  // Also ends a script that never yields: its pending evaluations fail at once.
  if (host_) webkit_web_view_terminate_web_process(view_);
}

// ---- pages that are never shown -------------------------------------------------------------

namespace {

gboolean answerAtOnce(WebKitWebView*, WebKitScriptDialog* dialog, gpointer) {
  // An unanswered dialog would block the page's scripts for good.
  const auto type = webkit_script_dialog_get_dialog_type(dialog);
  if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM)
    webkit_script_dialog_confirm_set_confirmed(dialog, FALSE);
  if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
    webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
  }
  return TRUE;  // an alert just returns; a prompt returns null
}

gboolean refuseFiles(WebKitWebView*, WebKitFileChooserRequest* request, gpointer) {
  webkit_file_chooser_request_cancel(request);
  return TRUE;
}

gboolean denyPermission(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
  webkit_permission_request_deny(request);
  return TRUE;
}

// Requests for something on screen that no one would see: refused, so nothing opens a
// window (a print dialog runs modal, holding the whole shell) or waits for a person.
gboolean refuse(WebKitWebView*, gpointer) {
  return TRUE;
}
gboolean refuseColor(WebKitWebView*, WebKitColorChooserRequest* request, gpointer) {
  webkit_color_chooser_request_cancel(request);
  return TRUE;
}
gboolean refuseMenu(WebKitWebView*, WebKitOptionMenu* menu, GdkEvent*, GdkRectangle*, gpointer) {
  webkit_option_menu_close(menu);
  return TRUE;
}
gboolean refuseAuthentication(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer) {
  // Goes on without credentials: the site's own answer to that is the page.
  webkit_authentication_request_authenticate(request, nullptr);
  return TRUE;
}

gboolean offscreenPolicy(WebKitWebView* view, WebKitPolicyDecision* decision,
                         WebKitPolicyDecisionType type, gpointer inPlace) {
  if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
    // A response the engine cannot show would become a download: the load fails instead.
    if (webkit_response_policy_decision_is_mime_type_supported(
            WEBKIT_RESPONSE_POLICY_DECISION(decision))) {
      webkit_policy_decision_use(decision);
    } else {
      webkit_policy_decision_ignore(decision);
    }
    return TRUE;
  }
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  WebKitURIRequest* request = webkit_navigation_action_get_request(action);
  const char* uri = webkit_uri_request_get_uri(request);
  const std::string url = uri ? uri : "";
  const std::string scheme = url.substr(0, url.find(':'));
  // Nothing reaches the desktop from here: other schemes (mailto:, file:) go nowhere.
  const bool web = scheme == "http" || scheme == "https" || scheme == "about" || scheme == "data" ||
                   scheme == "blob";
  if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    webkit_policy_decision_ignore(decision);
    if (web && GPOINTER_TO_INT(inPlace)) webkit_web_view_load_request(view, request);
    return TRUE;
  }
  if (web) {
    webkit_policy_decision_use(decision);
  } else {
    webkit_policy_decision_ignore(decision);
  }
  return TRUE;
}

}  // namespace

std::shared_ptr<WebKitPage> WebKitPage::offscreen(WebKitWebContext* context,
                                                  std::shared_ptr<WebsiteStore> store,
                                                  const OffscreenPageOptions& options) {
  auto* view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_context(context));
  WebKitSettings* settings = webkit_web_view_get_settings(view);
  webkit_settings_set_user_agent(settings, signin::kUserAgent);
  webkit_settings_set_media_playback_requires_user_gesture(settings, TRUE);
  // Nothing of it is ever on screen: drawn without compositing it behaves the same (visible,
  // animation frames, scrolling) at well under half the memory per running page.
  webkit_settings_set_hardware_acceleration_policy(settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_web_view_set_is_muted(view, TRUE);
  g_signal_connect(view, "script-dialog", G_CALLBACK(answerAtOnce), nullptr);
  g_signal_connect(view, "run-file-chooser", G_CALLBACK(refuseFiles), nullptr);
  g_signal_connect(view, "permission-request", G_CALLBACK(denyPermission), nullptr);
  g_signal_connect(view, "print", G_CALLBACK(refuse), nullptr);
  g_signal_connect(view, "context-menu", G_CALLBACK(refuse), nullptr);
  g_signal_connect(view, "enter-fullscreen", G_CALLBACK(refuse), nullptr);
  g_signal_connect(view, "show-notification", G_CALLBACK(refuse), nullptr);
  g_signal_connect(view, "run-color-chooser", G_CALLBACK(refuseColor), nullptr);
  g_signal_connect(view, "show-option-menu", G_CALLBACK(refuseMenu), nullptr);
  g_signal_connect(view, "authenticate", G_CALLBACK(refuseAuthentication), nullptr);
  g_signal_connect(view, "decide-policy", G_CALLBACK(offscreenPolicy),
                   GINT_TO_POINTER(options.newWindowsInPlace));
  // Mapped at its size in a window that is never shown: the page sees itself as visible,
  // with animation frames, timers and scrolling as on screen.
  GtkWidget* host = gtk_offscreen_window_new();
  gtk_window_set_default_size(GTK_WINDOW(host), options.width, options.height);
  gtk_widget_set_size_request(GTK_WIDGET(view), options.width, options.height);
  gtk_container_add(GTK_CONTAINER(host), GTK_WIDGET(view));
  gtk_widget_show_all(host);
  auto page = std::make_shared<WebKitPage>(view, std::move(store));
  page->host_ = host;
  return page;
}

}  // namespace brivok
