#include "bridge/RateLimitedOpener.h"

namespace brivok {

RateLimitedOpener::RateLimitedOpener(std::shared_ptr<UrlOpener> inner,
                                     std::shared_ptr<EventLoop> loop)
    : inner_(std::move(inner)), loop_(std::move(loop)), refilled_(loop_->now()) {}

void RateLimitedOpener::open(const std::string& url, Done done) {
  const auto now = loop_->now();
  const auto earned = (now - refilled_) / kInterval;
  if (earned > 0) {
    available_ = static_cast<int>(std::min<decltype(earned)>(kBurst, available_ + earned));
    refilled_ = available_ == kBurst ? now : refilled_ + earned * kInterval;
  }
  if (available_ == 0) return;  // dropped: nothing was asked of the desktop, nothing to say
  --available_;
  inner_->open(url, std::move(done));
}

}  // namespace brivok
