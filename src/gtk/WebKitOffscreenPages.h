#pragma once

#include <memory>

#include "gtk/WebKitStores.h"
#include "platform/OffscreenPages.h"

namespace brivok {

// Never-shown pages on WebKitGTK: each a view of its own, mapped at its size in a window that
// is never shown (the engine renders it as if on screen: visible, animation frames, timers,
// scrolling), on its key's store, governed as a page no one watches.
class WebKitOffscreenPages : public OffscreenPages {
 public:
  explicit WebKitOffscreenPages(std::shared_ptr<WebKitStores> stores)
      : stores_(std::move(stores)) {}

  std::shared_ptr<WebPage> open(const OffscreenPageOptions& options) override;

 private:
  std::shared_ptr<WebKitStores> stores_;
};

}  // namespace brivok
