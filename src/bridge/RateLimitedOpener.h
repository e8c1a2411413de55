#pragma once

#include <memory>

#include "core/EventLoop.h"
#include "platform/UrlOpener.h"

namespace brivok {

// Hands addresses on to the desktop at a bounded rate, whichever view or action asks: a few
// at once, then one every two seconds. A page that loops on window.open or mailto: gets the
// user's browser or mail client a handful of times, not thousands.
class RateLimitedOpener : public UrlOpener {
 public:
  static constexpr int kBurst = 4;
  static constexpr Duration kInterval = std::chrono::seconds(2);

  RateLimitedOpener(std::shared_ptr<UrlOpener> inner, std::shared_ptr<EventLoop> loop);
  void open(const std::string& url, Done done = nullptr) override;

 private:
  std::shared_ptr<UrlOpener> inner_;
  std::shared_ptr<EventLoop> loop_;
  int available_ = kBurst;
  Clock::time_point refilled_;
};

}  // namespace brivok
