#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <string>

#include "gtk/GtkLifetimes.h"
#include "gtk/LoadLimit.h"
#include "platform/TarvelView.h"

namespace brivok {

// The secondary site's view: a child of the main window's overlay, drawn over the main view
// at the rectangle the page asks for. Its website data persists in its own store; it runs no
// scripts of the shell and has no channel to it.
class WebKitTarvelView : public TarvelView {
 public:
  // Hosts of `domain` stay in the view; other addresses go to `openOutside`. The page's
  // rectangle is in the CSS pixels of `page` (the main view), which scale with its zoom; the
  // view follows that zoom, over the same region.
  WebKitTarvelView(GtkOverlay* overlay, WebKitWebView* page, const std::string& dataDir,
                   const std::string& cacheDir, const std::string& domain,
                   std::function<void(const std::string& url)> openOutside);
  ~WebKitTarvelView() override;
  WebKitTarvelView(const WebKitTarvelView&) = delete;
  WebKitTarvelView& operator=(const WebKitTarvelView&) = delete;

  void loadUrl(const std::string& url) override;
  bool isLoading() const override;
  void stopLoading() override;
  void place(double x, double y, double width, double height) override;
  void setHidden(bool hidden) override;
  void setOnStopped(std::function<void()> stopped) override { onStopped_ = std::move(stopped); }

  WebKitWebView* view() const { return view_; }

 private:
  static gboolean childPosition(GtkOverlay*, GtkWidget* child, GdkRectangle* allocation,
                                gpointer self);

  GtkOverlay* overlay_;  // (a reference held)
  WebKitWebView* view_ = nullptr;
  gpointer governor_ = nullptr;
  void layOut();

  WebKitWebView* page_;           // (not held) the main view, which outlives this one
  double css_[4] = {0, 0, 0, 0};  // the region the page asked for
  GdkRectangle frame_{0, 0, 0, 0};
  std::function<void()> onStopped_;
  std::unique_ptr<LoadLimit> limit_;
  Connections connections_;
};

}  // namespace brivok
