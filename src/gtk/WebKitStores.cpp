#include "gtk/WebKitStores.h"

#include <cmath>

#include "gtk/WebContexts.h"
#include "signin/SignInData.h"

namespace brivok {

WebKitStore::WebKitStore(WebKitWebContext* context, bool throwAway)
    : context_(WEBKIT_WEB_CONTEXT(g_object_ref(context))), throwAway_(throwAway) {}

WebKitStore::~WebKitStore() {
  g_clear_object(&viewManager_);
  g_object_unref(context_);
}

WebKitWebView* WebKitStore::makeView(WebKitUserContentManager* content) {
  // An ephemeral view on a lasting context gets a new in-memory data manager of its own:
  // cookies, storage and remembered HTTP authentication start from nothing.
  auto* view = WEBKIT_WEB_VIEW(content ? g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_,
                                                      "is-ephemeral", throwAway_,
                                                      "user-content-manager", content, nullptr)
                                       : g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_,
                                                      "is-ephemeral", throwAway_, nullptr));
  if (throwAway_ && !viewManager_) {
    viewManager_ =
        WEBKIT_WEBSITE_DATA_MANAGER(g_object_ref(webkit_web_view_get_website_data_manager(view)));
  }
  return view;
}

WebKitWebsiteDataManager* WebKitStore::manager() const {
  return viewManager_ ? viewManager_ : webkit_web_context_get_website_data_manager(context_);
}

void WebKitStore::readCookies(std::function<void(std::vector<Cookie>)> done) {
  using Done = std::function<void(std::vector<Cookie>)>;
  webkit_cookie_manager_get_all_cookies(
      webkit_website_data_manager_get_cookie_manager(manager()), nullptr,
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
      webkit_website_data_manager_get_cookie_manager(manager()), c, nullptr,
      +[](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Done> callback(static_cast<Done*>(data));
        webkit_cookie_manager_add_cookie_finish(WEBKIT_COOKIE_MANAGER(source), result, nullptr);
        if (*callback) (*callback)();
      },
      new Done(std::move(done)));
  soup_cookie_free(c);
}

void WebKitStore::clear() {
  webkit_website_data_manager_clear(manager(), WEBKIT_WEBSITE_DATA_ALL, 0, nullptr, nullptr,
                                    nullptr);
}

WebKitStores::WebKitStores(std::string dataDir, std::string cacheDir,
                           std::chrono::seconds idleLinger)
    : dataDir_(std::move(dataDir)), cacheDir_(std::move(cacheDir)), idleLinger_(idleLinger) {}

WebKitStores::~WebKitStores() {
  g_clear_handle_id(&sweep_, g_source_remove);
  g_clear_object(&throwAway_);
  for (auto& [id, entry] : stores_) {
    if (entry.context) {
      g_object_remove_weak_pointer(G_OBJECT(entry.context),
                                   reinterpret_cast<gpointer*>(&entry.context));
    }
  }
}

std::shared_ptr<WebKitStore> WebKitStores::forKey(const std::string& key) {
  const std::string storeId = signin::storeIdentifier(key);
  if (storeId.empty()) {
    // No page writes anything under it: every view on it is ephemeral.
    if (!throwAway_) {
      throwAway_ = newPersistentContext(cacheDir_ + "/throwaway", cacheDir_ + "/throwaway", true);
    }
    return std::make_shared<WebKitStore>(throwAway_, true);
  }
  auto& entry = stores_[storeId];
  if (auto store = entry.store.lock()) {
    keep(entry, store);
    return store;
  }
  // A context whose last page is still being taken down is taken up again: two contexts on
  // one folder would share its files.
  WebKitWebContext* context = entry.context
                                  ? WEBKIT_WEB_CONTEXT(g_object_ref(entry.context))
                                  : newPersistentContext(dataDir_ + "/stores/" + storeId,
                                                         cacheDir_ + "/stores/" + storeId, true);
  if (!entry.context) {
    entry.context = context;
    g_object_add_weak_pointer(G_OBJECT(context), reinterpret_cast<gpointer*>(&entry.context));
  }
  auto store = std::make_shared<WebKitStore>(context);
  g_object_unref(context);
  entry.store = store;
  keep(entry, store);
  return store;
}

void WebKitStores::keep(Entry& entry, std::shared_ptr<WebKitStore> store) {
  entry.kept = std::move(store);
  entry.idleSince.reset();
  if (!sweep_) sweep_ = g_timeout_add_seconds(2, sweep, this);
}

gboolean WebKitStores::sweep(gpointer data) {
  auto* self = static_cast<WebKitStores*>(data);
  const auto now = std::chrono::steady_clock::now();
  bool anyKept = false;
  for (auto& [id, entry] : self->stores_) {
    if (!entry.kept) continue;
    if (entry.kept.use_count() > 1) {
      entry.idleSince.reset();  // a page or window of the key is open
    } else if (!entry.idleSince) {
      entry.idleSince = now;
    } else if (now - *entry.idleSince >= self->idleLinger_) {
      entry.kept.reset();  // its context goes with its last view
      entry.idleSince.reset();
    }
    anyKept = anyKept || entry.kept;
  }
  if (anyKept) return G_SOURCE_CONTINUE;
  self->sweep_ = 0;
  return G_SOURCE_REMOVE;
}

void WebKitStores::forget(const std::string& key) {
  if (!key.empty()) forKey(key)->clear();
}

}  // namespace brivok
