#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <memory>
#include <optional>

#include "gtk/WebKitStores.h"
#include "platform/OffscreenPages.h"

namespace brivok {

// Never-shown pages on WebKitGTK: each a view of its own, mapped at its size in a window that
// is never shown (the engine renders it as if on screen: visible, animation frames, timers,
// scrolling), on its key's store, governed as a page no one watches.
//
// A throw-away page (the empty key) needs a new store and a new view every time. One such
// view, on a store no page has used and with its web process running, is made ready ahead
// while throw-away pages keep coming, so the next one starts at once; it has never loaded
// anything and is let go after a quiet while.
class WebKitOffscreenPages : public OffscreenPages {
 public:
  static constexpr guint kSpareSeconds = 10;

  explicit WebKitOffscreenPages(std::shared_ptr<WebKitStores> stores)
      : stores_(std::move(stores)) {}
  ~WebKitOffscreenPages() override;
  WebKitOffscreenPages(const WebKitOffscreenPages&) = delete;
  WebKitOffscreenPages& operator=(const WebKitOffscreenPages&) = delete;

  std::shared_ptr<WebPage> open(const OffscreenPageOptions& options) override;

 private:
  struct Ready {
    OffscreenPageOptions shape;
    std::shared_ptr<WebKitStore> store;
    WebKitWebView* view;
    GtkWidget* host;  // (owned until taken)
  };
  Ready make(const OffscreenPageOptions& options);
  void prepareSpare(const OffscreenPageOptions& shape);
  void dropSpare();

  std::shared_ptr<WebKitStores> stores_;
  std::optional<Ready> spare_;
  OffscreenPageOptions spareShape_;
  guint preparing_ = 0;  // the idle source that makes the spare
  guint expiry_ = 0;     // the timeout that lets an unused spare go
};

}  // namespace brivok
