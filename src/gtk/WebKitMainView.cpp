#include "gtk/WebKitMainView.h"

#include <optional>
#include <utility>

#include <nlohmann/json.hpp>

#include "bridge/NavigationPolicy.h"
#include "gtk/PagePolicy.h"
#include "gtk/PageScripts.h"
#include "gtk/WebContexts.h"

namespace brivok {

WebKitMainView::WebKitMainView(std::function<void(const PageMessage&)> onMessage)
    : onMessage_(std::move(onMessage)) {
  context_ = newEphemeralContext();
  keepLoopbackDirect(context_);
  content_ = webkit_user_content_manager_new();
  connections_.add(content_, "script-message-received::brivok", G_CALLBACK(scriptMessage), this);
  webkit_user_content_manager_register_script_message_handler_in_world(content_, "brivok",
                                                                       kBridgeWorld);
  connections_.add(content_, "script-message-received::brivokPainted",
                   G_CALLBACK(+[](WebKitUserContentManager*, WebKitJavascriptResult*, gpointer d) {
                     auto* self = static_cast<WebKitMainView*>(d);
                     if (auto painted = std::exchange(self->onFirstPaint_, nullptr)) painted();
                   }),
                   this);
  webkit_user_content_manager_register_script_message_handler_in_world(content_, "brivokPainted",
                                                                       kBridgeWorld);
  connections_.add(content_, "script-message-received::brivokOutside", G_CALLBACK(outsideMessage),
                   this);
  webkit_user_content_manager_register_script_message_handler_in_world(content_, "brivokOutside",
                                                                       kBridgeWorld);
  view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_,
                                       "user-content-manager", content_, nullptr));
  g_object_ref_sink(view_);
  limit_ = std::make_unique<LoadLimit>(view_);
  connections_.add(
      view_, "web-process-terminated",
      G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason, gpointer data) {
        auto* self = static_cast<WebKitMainView*>(data);
        if (self->onStopped_) self->onStopped_();
      }),
      this);
  governor_ = governView(
      view_, "",
      [this](const std::string& url) {
        if (openOutside_) openOutside_(url);
      },
      true);
  const GdkRGBA transparent{0, 0, 0, 0};
  webkit_web_view_set_background_color(view_, &transparent);
}

WebKitMainView::~WebKitMainView() {
  connections_.clear();
  firstDraw_.disconnect();
  g_clear_handle_id(&loadSource_, g_source_remove);
  governor_->openOutside = nullptr;  // the view may outlive this object
  limit_.reset();
  g_signal_handlers_disconnect_by_data(view_, governor_);
  if (GtkWidget* parent = gtk_widget_get_parent(GTK_WIDGET(view_))) {
    gtk_container_remove(GTK_CONTAINER(parent), GTK_WIDGET(view_));
  }
  g_object_unref(view_);
  g_object_unref(content_);
  g_object_unref(context_);
}

namespace {

std::optional<std::string> textOf(JSCValue* value) {
  if (!value || !jsc_value_is_string(value)) return std::nullopt;
  char* text = jsc_value_to_string(value);
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

// The relay script posts text; anything else did not come from it.
std::optional<std::string> textOf(WebKitJavascriptResult* result) {
  return textOf(webkit_javascript_result_get_js_value(result));
}

// The relay posts [origin, document, message], all text.
std::optional<PageMessage> messageOf(WebKitJavascriptResult* result) {
  JSCValue* value = webkit_javascript_result_get_js_value(result);
  if (!value || !jsc_value_is_array(value)) return std::nullopt;
  std::optional<std::string> parts[3];
  for (guint i = 0; i < 3; ++i) {
    JSCValue* part = jsc_value_object_get_property_at_index(value, i);
    parts[i] = textOf(part);
    if (part) g_object_unref(part);
    if (!parts[i]) return std::nullopt;
  }
  return PageMessage{std::move(*parts[2]), std::move(*parts[0]), std::move(*parts[1])};
}

// A JavaScript string literal of any text (JSON's own string form, which JavaScript reads
// the same way); text that is not UTF-8 gives nothing.
std::optional<std::string> scriptString(const std::string& text) {
  try {
    return nlohmann::json(text).dump();
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

}  // namespace

void WebKitMainView::scriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                   gpointer data) {
  auto* self = static_cast<WebKitMainView*>(data);
  const auto message = messageOf(result);
  if (message && self->onMessage_) self->onMessage_(*message);
}

void WebKitMainView::outsideMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                    gpointer data) {
  auto* self = static_cast<WebKitMainView*>(data);
  const auto url = textOf(result);
  if (!url) return;
  NavigationRequest request;
  request.url = *url;
  request.newWindow = true;  // never loaded here: either handed on or dropped
  if (decideNavigation(request) == Navigation::OpenOutside && self->openOutside_) {
    self->openOutside_(request.url);
  }
}

gboolean WebKitMainView::runPendingLoad(gpointer data) {
  auto* self = static_cast<WebKitMainView*>(data);
  self->loadSource_ = 0;
  self->drawn_ = true;
  self->firstDraw_.disconnect();
  if (auto pending = std::exchange(self->pendingLoad_, nullptr)) pending();
  return G_SOURCE_REMOVE;
}

void WebKitMainView::whenDrawn(std::function<void()> load) {
  if (drawn_) {
    load();
    return;
  }
  // The first load starts the engine's web process, which holds the main thread a while
  // (more so in its sandbox): the window is on screen, with something to read, before it.
  // A window that is never drawn (started minimized) loads all the same, a moment later.
  pendingLoad_ = std::move(load);
  if (firstDraw_.connected()) return;
  loadSource_ = g_timeout_add(kFirstLoadWaitMs, runPendingLoad, this);
  firstDraw_ = Connection(
      view_, g_signal_connect_after(
                 view_, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer data) -> gboolean {
                   auto* self = static_cast<WebKitMainView*>(data);
                   g_clear_handle_id(&self->loadSource_, g_source_remove);
                   self->loadSource_ = g_idle_add(runPendingLoad, self);  // once it is drawn
                   return FALSE;
                 }),
                 this));
}

void WebKitMainView::loadUrl(const std::string& url) {
  limit_->start();
  whenDrawn([this, url] { webkit_web_view_load_uri(view_, url.c_str()); });
}

void WebKitMainView::loadHtml(const std::string& html) {
  limit_->stop();  // the shell's own page replaces whatever was loading
  whenDrawn([this, html] { webkit_web_view_load_html(view_, html.c_str(), nullptr); });
}

bool WebKitMainView::isLoading() const {
  return webkit_web_view_is_loading(view_);
}

void WebKitMainView::stopLoading() {
  webkit_web_view_stop_loading(view_);
}

void WebKitMainView::setHomeOrigins(const std::vector<std::string>& origins) {
  homeOrigins_ = origins;
  governor_->homeOrigins = origins;
  installScripts();
}

void WebKitMainView::setPageScript(const std::string& source) {
  pageScript_ = source;
  installScripts();
}

void WebKitMainView::installScripts() {
  webkit_user_content_manager_remove_all_scripts(content_);
  // The page's side of the channel and the page script exist only in documents of the
  // backend's own origins, as the document's own address says before any of its scripts run.
  std::string home;
  for (const auto& origin : homeOrigins_) {
    if (const auto literal = scriptString(origin)) {
      home += (home.empty() ? "" : " || ") + std::string("location.origin === ") + *literal;
    }
  }
  const std::string guarded = home.empty() ? std::string()
                                           : "if (" + home + ") {\n" + pagescripts::kBridgeShim +
                                                 "\n" + pageScript_ + "\n}";
  const struct {
    const char* source;
    const char* world;
  } scripts[] = {
      {pagescripts::kBridgeRelay, kBridgeWorld},
      {guarded.c_str(), nullptr},
  };
  for (const auto& s : scripts) {
    if (!*s.source) continue;
    WebKitUserScript* script =
        s.world
            ? webkit_user_script_new_for_world(s.source, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, s.world,
                                               nullptr, nullptr)
            : webkit_user_script_new(s.source, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                     WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content_, script);
    webkit_user_script_unref(script);
  }
}

void WebKitMainView::callPage(const std::string& document, const std::string& callback,
                              const std::string& json) {
  // Checked in the bridge's own world, against the name only that document's relay holds, in
  // the same turn as the call: a page that replaced it in the meantime gets nothing.
  const auto name = scriptString(document);
  const auto call =
      scriptString("[" + (scriptString(callback).value_or("\"\"")) + "," + json + "]");
  if (!name || !call) return;
  const std::string script =
      "(() => { if (typeof bvDocument !== 'string' || bvDocument !== " + *name +
      ") return; document.dispatchEvent(new CustomEvent(" +
      "'brivok-bridge-answer', { detail: " + *call + " })); })()";
  webkit_web_view_evaluate_javascript(view_, script.c_str(), -1, kBridgeWorld, nullptr, nullptr,
                                      nullptr, nullptr);
}

}  // namespace brivok
