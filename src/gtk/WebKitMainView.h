#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <memory>
#include <string>

#include "gtk/GtkLifetimes.h"
#include "gtk/LoadLimit.h"
#include "gtk/PagePolicy.h"
#include "platform/MainWebView.h"

namespace brivok {

// The main window's web view: a throw-away website store, the "brivok" channel reachable only
// from the main frame, the page script at document start, a transparent background, and the
// shell's own navigation rules and page dialogs.
class WebKitMainView : public MainWebView {
 public:
  static constexpr const char* kBridgeWorld = "brivok-bridge";
  static constexpr guint kFirstLoadWaitMs = 500;

  explicit WebKitMainView(std::function<void(const PageMessage& message)> onMessage);
  ~WebKitMainView() override;
  WebKitMainView(const WebKitMainView&) = delete;
  WebKitMainView& operator=(const WebKitMainView&) = delete;

  void loadUrl(const std::string& url) override;
  void loadHtml(const std::string& html) override;
  bool isLoading() const override;
  void reload() override { webkit_web_view_reload(view_); }
  void stopLoading() override;
  void setOnStopped(std::function<void()> stopped) override { onStopped_ = std::move(stopped); }
  void setHomeOrigins(const std::vector<std::string>& origins) override;
  void setPageScript(const std::string& source) override;
  void callPage(const std::string& document, const std::string& callback,
                const std::string& json) override;

  // Where addresses outside the shell go (the desktop's handler for their scheme).
  // Called once, when the view has first put a page on screen.
  void setOnFirstPaint(std::function<void()> painted) { onFirstPaint_ = std::move(painted); }

  void setOpenOutside(std::function<void(const std::string&)> open) {
    openOutside_ = std::move(open);
  }

  GtkWidget* widget() const { return GTK_WIDGET(view_); }
  WebKitWebView* view() const { return view_; }

 private:
  static void scriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                            gpointer self);
  // An address the page's own script reported: a clicked link or a window.open.
  static void outsideMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                             gpointer self);

  void installScripts();
  // Runs `load` at once once the window has been drawn, else just after its first frame.
  void whenDrawn(std::function<void()> load);
  static gboolean runPendingLoad(gpointer self);

  std::function<void(const PageMessage&)> onMessage_;
  std::function<void(const std::string&)> openOutside_;
  std::function<void()> onStopped_;
  std::function<void()> onFirstPaint_;
  std::function<void()> pendingLoad_;  // the first load, waiting for the first frame
  bool drawn_ = false;
  Connection firstDraw_;
  guint loadSource_ = 0;
  WebKitWebContext* context_ = nullptr;
  WebKitUserContentManager* content_ = nullptr;
  Connections connections_;
  WebKitWebView* view_ = nullptr;
  std::unique_ptr<LoadLimit> limit_;
  ViewGovernor* governor_ = nullptr;  // (the view's) the navigation and dialog handlers' data
  std::string pageScript_;
  std::vector<std::string> homeOrigins_;
};

}  // namespace brivok
