#pragma once

#include <webkit2/webkit2.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "gtk/WebKitPage.h"
#include "platform/SignInWindow.h"

namespace brivok {

// Sign-in windows and never-shown pages on WebKitGTK. Each sign-in key's store is one web
// context with a data manager under <data>/stores/<id> (cache under <cache>/stores/<id>),
// shared by every window and page of the key while any of them is open, and for a short
// while after (jobs of one key often come one after another). Then the context and its
// network process go; the data stays on disk for the next one. The empty identifier gives
// each page a throw-away store of its own.
class WebKitSignInWindows : public SignInWindows {
 public:
  static constexpr std::chrono::seconds kIdleLinger{10};

  WebKitSignInWindows(std::string dataDir, std::string cacheDir,
                      std::chrono::seconds idleLinger = kIdleLinger);
  ~WebKitSignInWindows() override;

  std::shared_ptr<SignInWindow> open(const SignInWindow::Options& options) override;
  std::shared_ptr<WebPage> openOffscreen(const OffscreenPageOptions& options) override;
  void forgetStore(const std::string& storeId) override;

  std::shared_ptr<WebKitStore> store(const std::string& storeId);

 private:
  struct StoreEntry {
    std::weak_ptr<WebKitStore> store;     // held by the key's open pages and windows
    WebKitWebContext* context = nullptr;  // (weak) alive until its last view is gone
    std::shared_ptr<WebKitStore> kept;    // held here until the key has been idle a while
    std::optional<std::chrono::steady_clock::time_point> idleSince;
  };
  void keep(StoreEntry& entry, std::shared_ptr<WebKitStore> store);
  static gboolean sweep(gpointer self);

  std::string dataDir_;
  std::string cacheDir_;
  std::chrono::seconds idleLinger_;
  std::map<std::string, StoreEntry> stores_;
  guint sweep_ = 0;  // runs while a store is kept
};

}  // namespace brivok
