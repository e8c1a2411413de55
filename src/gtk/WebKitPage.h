#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gtk/GtkLifetimes.h"
#include "gtk/LoadLimit.h"
#include "platform/WebPage.h"
#include "platform/WebsiteStore.h"

namespace brivok {

// A web view as the logic drives it. A page that is never shown owns the window that holds
// its view (`host`), and its end ends its web process.
class WebKitPage : public WebPage {
 public:
  // The script world the shell's own scripts run in, apart from the page's.
  static constexpr const char* kShellWorld = "brivok-shell";

  WebKitPage(WebKitWebView* view, std::shared_ptr<WebsiteStore> store, GtkWidget* host = nullptr);
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

 private:
  static void loadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self);
  static gboolean loadFailed(WebKitWebView*, WebKitLoadEvent, const char*, GError* error,
                             gpointer self);
  static void processGone(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self);
  void fail(bool cancelled);

  WebKitWebView* view_;  // (a reference held)
  std::shared_ptr<WebsiteStore> store_;
  std::weak_ptr<Events> events_;
  guint answering_ = 0;  // tells a closed page's scripts that nothing came of them
  std::vector<ScriptDone> unanswered_;
  bool awaitingWeb_ = false;  // an http(s) load waits for its first commit
  bool closed_ = false;
  GtkWidget* host_;  // (owned) the never-shown window, for pages that are never shown
  LoadLimit limit_;
  Connections connections_;
};

}  // namespace brivok
