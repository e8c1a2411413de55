#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/Cookie.h"
#include "core/EventLoop.h"
#include "core/Timer.h"
#include "jobs/Job.h"
#include "platform/OffscreenPages.h"

namespace brivok {

// Reads one page as a desktop browser shows it, off screen: handed cookies go into the key's
// store first, then the page loads, its visible text is probed every half second until its
// length holds still (one scroll to the bottom on the way), and its title, address and text
// are extracted. Exactly one outcome: the page dictionary, or nothing.
class PageRenderer : public Job,
                     public WebPage::Events,
                     public std::enable_shared_from_this<PageRenderer> {
 public:
  // (the page dictionary or nothing, the error text: empty with a page)
  using Done = JobDone;

  static constexpr Duration kTick = std::chrono::milliseconds(500);
  static constexpr Duration kStable = std::chrono::milliseconds(1500);
  static constexpr Duration kLoadWait = std::chrono::seconds(30);  // probed even if loading
  static constexpr Duration kCutOff = std::chrono::seconds(40);    // extracted whatever it is
  // A page whose script never yields answers no extraction either; it is given up a little
  // after the cut-off, so it cannot hold one of the four job slots for ever.
  static constexpr Duration kGiveUp = std::chrono::seconds(45);

  static constexpr const char* kProbeScript = "document.body ? document.body.innerText.length : 0";
  static constexpr const char* kScrollScript = "window.scrollTo(0, document.body.scrollHeight)";
  // Title and text are cut at 200,000 UTF-16 units, at a code point's boundary, and a
  // surrogate without its pair becomes U+FFFD: what the page shows always makes valid JSON.
  static constexpr const char* kExtractScript =
      "(() => { const cut = (s) => { let t = String(s).slice(0, 200000);"
      " if (/[\\uD800-\\uDBFF]$/.test(t) && t.length === 200000) t = t.slice(0, -1);"
      " return t.toWellFormed(); };"
      " return JSON.stringify({title: cut(document.title), url: location.href,"
      " text: cut(document.body ? document.body.innerText : '')}); })()";

  // Starts at once; `done` runs once, later, on the main thread.
  static std::shared_ptr<PageRenderer> create(OffscreenPages& pages,
                                              std::shared_ptr<EventLoop> loop,
                                              const std::string& url, const std::string& key,
                                              const std::vector<Cookie>& cookies, Done done);

  bool finished() const override { return !done_; }

  // The report of a page from what its extraction gave and the view's own address.
  static nlohmann::json pageDictionary(const nlohmann::json& extracted, const std::string& address);

  // WebPage::Events
  void loadFailed(bool cancelled) override;
  void pageStopped() override;

 private:
  PageRenderer(std::shared_ptr<EventLoop> loop, std::string url, Done done);
  void start();
  void tick();
  void probed(Duration elapsed, const std::optional<nlohmann::json>& value);
  void finish();
  void deliver(std::optional<nlohmann::json> outcome, const char* error = kPageNotLoadedError);

  std::shared_ptr<EventLoop> loop_;
  std::string url_;
  std::shared_ptr<WebPage> page_;
  Done done_;  // empty once the outcome is delivered
  Timer timer_;
  std::size_t cookiesPending_ = 0;
  long long lastLength_ = -1;
  Clock::time_point started_;
  Clock::time_point stableSince_;
  bool scrolled_ = false;
};

}  // namespace brivok
