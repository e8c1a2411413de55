#pragma once

#include <webkit2/webkit2.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/WebsiteStore.h"

namespace brivok {

// The website store of one web context (a reference is held), or, for a throw-away store, the
// fresh in-memory store of the one view made on it.
class WebKitStore : public WebsiteStore {
 public:
  explicit WebKitStore(WebKitWebContext* context, bool throwAway = false);
  ~WebKitStore() override;
  WebKitStore(const WebKitStore&) = delete;
  WebKitStore& operator=(const WebKitStore&) = delete;

  void readCookies(std::function<void(std::vector<Cookie>)> done) override;
  void addCookie(const Cookie& cookie, std::function<void()> done) override;
  void clear() override;

  // A view on this store; `content` is its user content manager, if any. A throw-away store
  // makes one view only, with a data manager of its own that lives in memory.
  WebKitWebView* makeView(WebKitUserContentManager* content = nullptr);

 private:
  WebKitWebsiteDataManager* manager() const;
  WebKitWebContext* context_;
  bool throwAway_;
  WebKitWebsiteDataManager* viewManager_ = nullptr;  // (owned) a throw-away view's own
};

// The website stores of sign-in keys. Each key's store is one web context with a data
// manager under <data>/stores/<id> (cache under <cache>/stores/<id>), <id> the key's store
// identifier, shared by every window and page of the key while any of them is open, and for
// a short while after (jobs of one key often come one after another). Then the context and
// its network process go; the data stays on disk for the next one. The empty key gives each
// caller a throw-away store of its own: an in-memory session on one shared context, so a
// throw-away page costs no network process of its own.
class WebKitStores {
 public:
  static constexpr std::chrono::seconds kIdleLinger{10};

  WebKitStores(std::string dataDir, std::string cacheDir,
               std::chrono::seconds idleLinger = kIdleLinger);
  ~WebKitStores();
  WebKitStores(const WebKitStores&) = delete;
  WebKitStores& operator=(const WebKitStores&) = delete;

  std::shared_ptr<WebKitStore> forKey(const std::string& key);
  // Erases everything the key's store holds, also under open windows and pages.
  void forget(const std::string& key);

 private:
  struct Entry {
    std::weak_ptr<WebKitStore> store;     // held by the key's open pages and windows
    WebKitWebContext* context = nullptr;  // (weak) alive until its last view is gone
    std::shared_ptr<WebKitStore> kept;    // held here until the key has been idle a while
    std::optional<std::chrono::steady_clock::time_point> idleSince;
  };
  void keep(Entry& entry, std::shared_ptr<WebKitStore> store);
  static gboolean sweep(gpointer self);

  std::string dataDir_;
  std::string cacheDir_;
  std::chrono::seconds idleLinger_;
  std::map<std::string, Entry> stores_;    // by store identifier
  WebKitWebContext* throwAway_ = nullptr;  // (owned) made on the first throw-away page
  guint sweep_ = 0;                        // runs while a store is kept
};

}  // namespace brivok
