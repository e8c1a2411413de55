#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/SignInWindow.h"
#include "platform/WebPage.h"
#include "platform/WebsiteStore.h"

namespace brivok {

// Destroys a window once the loop is idle: it may be let go from inside one of its own
// widgets' signals.
void destroyWhenIdle(GtkWidget* window);

// The website store of one web context (a reference is held).
class WebKitStore : public WebsiteStore {
 public:
  explicit WebKitStore(WebKitWebContext* context);
  ~WebKitStore() override;
  WebKitStore(const WebKitStore&) = delete;
  WebKitStore& operator=(const WebKitStore&) = delete;

  void readCookies(std::function<void(std::vector<Cookie>)> done) override;
  void addCookie(const Cookie& cookie, std::function<void()> done) override;
  void clear() override;

  WebKitWebContext* context() const { return context_; }

 private:
  WebKitCookieManager* cookies() const;
  WebKitWebContext* context_;
};

// A web view as the logic drives it. When the page is never shown it owns the off-screen
// window that holds its view.
class WebKitPage : public WebPage {
 public:
  static constexpr guint kLoadLimitSeconds = 60;
  // The script world the shell's own scripts run in, apart from the page's.
  static constexpr const char* kShellWorld = "brivok-shell";

  WebKitPage(WebKitWebView* view, std::shared_ptr<WebsiteStore> store);
  ~WebKitPage() override;
  WebKitPage(const WebKitPage&) = delete;
  WebKitPage& operator=(const WebKitPage&) = delete;

  void setEvents(std::weak_ptr<Events> events) override { events_ = std::move(events); }
  void load(const std::string& url) override;
  void evaluate(const std::string& script, ScriptDone done) override;
  std::string url() const override;
  std::string title() const override;
  bool isLoading() const override;
  WebsiteStore& store() override { return *store_; }
  void close() override;

  WebKitWebView* view() const { return view_; }

  // A page in a window that is never shown (the engine renders it as if on screen), with
  // nothing that waits for a person: see OffscreenPageOptions.
  static std::shared_ptr<WebKitPage> offscreen(WebKitWebContext* context,
                                               std::shared_ptr<WebsiteStore> store,
                                               const OffscreenPageOptions& options);

 private:
  static void loadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self);
  static gboolean loadFailed(WebKitWebView*, WebKitLoadEvent, const char*, GError* error,
                             gpointer self);
  void stopLimit();
  void fail(bool cancelled);

  WebKitWebView* view_;  // (a reference held)
  std::shared_ptr<WebsiteStore> store_;
  std::weak_ptr<Events> events_;
  guint limit_ = 0;           // the page-load limit's source
  bool awaitingWeb_ = false;  // an http(s) load waits for its first commit
  bool gaveUp_ = false;       // the limit stopped the load: its cancellation is a failure
  bool closed_ = false;
  GtkWidget* host_ = nullptr;  // (owned) the never-shown window, for off-screen pages
};

}  // namespace brivok
