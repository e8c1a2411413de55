#include "jobs/PageRenderer.h"

#include <cmath>

#include "core/Json.h"
#include "core/Url.h"

namespace brivok {
namespace {

// The page dictionary is made by the page: its text is cut at 200,000 code units, but its
// title and address are not.
constexpr std::size_t kMaxPageBytes = 32 * 1024 * 1024;

}  // namespace

PageRenderer::PageRenderer(std::shared_ptr<EventLoop> loop, std::string url, Done done)
    : loop_(std::move(loop)),
      url_(std::move(url)),
      done_(std::move(done)),
      started_(loop_->now()),
      stableSince_(started_) {}

std::shared_ptr<PageRenderer> PageRenderer::create(OffscreenPages& pages,
                                                   std::shared_ptr<EventLoop> loop,
                                                   const std::string& url, const std::string& key,
                                                   const std::vector<Cookie>& cookies, Done done) {
  std::shared_ptr<PageRenderer> self(new PageRenderer(std::move(loop), url, std::move(done)));
  OffscreenPageOptions options;
  options.key = key;
  self->page_ = pages.open(options);
  self->page_->setEvents(self);
  std::weak_ptr<PageRenderer> weak = self;
  // The page is requested only once every handed cookie is in the store.
  self->cookiesPending_ = cookies.size();
  if (cookies.empty()) {
    self->loop_->post([weak] {
      if (auto renderer = weak.lock()) renderer->start();
    });
  }
  for (const auto& cookie : cookies) {
    self->page_->store().addCookie(cookie, [weak] {
      auto renderer = weak.lock();
      if (renderer && --renderer->cookiesPending_ == 0) renderer->start();
    });
  }
  return self;
}

void PageRenderer::start() {
  if (!done_) return;
  page_->load(url_);
  std::weak_ptr<PageRenderer> weak = weak_from_this();
  timer_ = Timer::every(loop_, kTick, [weak] {
    if (auto renderer = weak.lock()) renderer->tick();
  });
}

void PageRenderer::tick() {
  if (!done_) return;
  const Duration elapsed = std::chrono::duration_cast<Duration>(loop_->now() - started_);
  if (elapsed >= kGiveUp) {
    page_->close();  // frees the web process of a page that never yields
    deliver(std::nullopt);
    return;
  }
  if (elapsed >= kCutOff) {
    finish();
    return;
  }
  if (page_->isLoading() && elapsed < kLoadWait) return;
  std::weak_ptr<PageRenderer> weak = weak_from_this();
  page_->evaluate(kProbeScript, [weak, elapsed](std::optional<nlohmann::json> value) {
    if (auto renderer = weak.lock()) renderer->probed(elapsed, value);
  });
}

void PageRenderer::probed(Duration elapsed, const std::optional<nlohmann::json>& value) {
  if (!done_) return;
  long long n = 0;
  if (value && value->is_number()) {
    const double d = value->get<double>();
    if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 1e15)
      n = static_cast<long long>(d);
  }
  // Held still is measured between the ticks that asked, not between the answers: an answer
  // that comes late must not cost the page another tick.
  const auto now = started_ + elapsed;
  if (n != lastLength_) {
    lastLength_ = n;
    stableSince_ = now;
  } else if (n >= 1 && !scrolled_) {
    scrolled_ = true;
    stableSince_ = now;
    page_->evaluate(kScrollScript, nullptr);
  } else if (n >= 1) {
    if (now - stableSince_ >= kStable || elapsed >= kLoadWait) finish();
  } else if (elapsed >= kLoadWait) {
    finish();
  }
}

void PageRenderer::finish() {
  std::weak_ptr<PageRenderer> weak = weak_from_this();
  page_->evaluate(kExtractScript, [weak](std::optional<nlohmann::json> value) {
    auto renderer = weak.lock();
    if (!renderer || !renderer->done_) return;
    std::optional<nlohmann::json> outcome;
    if (value && value->is_string()) {
      if (auto page = parseJsonObject(value->get_ref<const std::string&>(), kMaxPageBytes)) {
        outcome = pageDictionary(*page, renderer->page_->url());
      }
    }
    renderer->deliver(std::move(outcome));
  });
}

nlohmann::json PageRenderer::pageDictionary(const nlohmann::json& extracted,
                                            const std::string& address) {
  // The page has no say in its own report beyond its title and text: the address is the
  // view's, nothing but strings pass, and no other key is kept.
  const auto text = [&extracted](const char* key) {
    const auto* value = stringMember(extracted, key);
    return value ? *value : std::string();
  };
  // Credentials that reached the address stay out of the report.
  return {{"title", text("title")}, {"url", withoutUserinfo(address)}, {"text", text("text")}};
}

void PageRenderer::loadFailed(bool cancelled) {
  if (cancelled || !done_) return;  // a cancelled navigation is no failure
  deliver(std::nullopt);
}

void PageRenderer::pageStopped() {
  // Nothing more will come of the page: its slot goes to the next job at once.
  deliver(std::nullopt, kPageStoppedError);
}

void PageRenderer::deliver(std::optional<nlohmann::json> outcome, const char* error) {
  auto done = std::exchange(done_, nullptr);
  if (!done) return;
  timer_.cancel();
  // The callback may drop the last owner; stay alive until this call is over.
  auto keep = shared_from_this();
  done(outcome, outcome ? "" : error);
}

}  // namespace brivok
