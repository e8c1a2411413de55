#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/EventLoop.h"
#include "core/Timer.h"
#include "jobs/Job.h"
#include "jobs/JobRecord.h"
#include "platform/OffscreenPages.h"
#include "platform/SignInWindow.h"
#include "signin/LoginPattern.h"

namespace brivok {

// One sign-in to an outside site on the website store of a sign-in key. Interactive: a
// window the user signs in with, then presses "I'm signed in". Automatic: a page that is
// never shown, where the shell fills in a stored login until the site lets it in. Ends once.
class SignInController : public Job,
                         public SignInWindow::Events,
                         public WebPage::Events,
                         public std::enable_shared_from_this<SignInController> {
 public:
  struct AutoLogin {
    std::string username;
    std::string password;
    std::string loginPattern;
  };
  // (result or nothing, error text: empty on success)
  using FinishCallback = JobDone;

  static constexpr Duration kAutoStep = std::chrono::milliseconds(2000);
  static constexpr Duration kAutoSettle = std::chrono::milliseconds(4000);
  static constexpr Duration kAutoDeadline = std::chrono::seconds(90);
  static constexpr int kAutoAttempts = 4;
  static constexpr const char* kTimeoutError =
      "signing in again didn't finish in time; the site may want a verification code";
  static constexpr const char* kAttemptsError =
      "couldn't finish signing in by itself; the site may want a verification step";
  static constexpr const char* kElsewhereError =
      "the sign-in led to another site, one the job doesn't list";

  // Where a login may be typed, captured or filled: pages with the scheme and port of the
  // sign-in's address, whose host is its host or a listed domain, or a subdomain of one by
  // whole labels. A host that is an IP address matches only itself.
  struct Site {
    std::string scheme;  // lower case
    std::string host;    // lower case
    std::optional<int> port;
    std::vector<std::string> domains;  // lower case
    static Site of(const std::string& url, std::vector<std::string> domains);
    bool contains(const std::string& url) const;
  };

  // The addresses a sign-in window opens: web pages only, https anywhere and plain http on
  // this machine.
  static bool acceptsAddress(const std::string& url);

  // A sign-in window, not yet shown, on the key's store.
  static std::shared_ptr<SignInController> create(SignInWindows& windows,
                                                  std::shared_ptr<EventLoop> loop,
                                                  const std::string& url, const std::string& title,
                                                  const std::vector<std::string>& domains,
                                                  const std::string& key);
  // What runs the native jobs of kind "signin": a sign-in by itself that reports to `done`.
  static std::function<std::shared_ptr<Job>(const JobRecord&, JobDone)> jobRunner(
      std::shared_ptr<OffscreenPages> pages, std::shared_ptr<EventLoop> loop);
  // A sign-in by itself on a page that is never shown, on the key's store.
  static std::shared_ptr<SignInController> create(OffscreenPages& pages,
                                                  std::shared_ptr<EventLoop> loop,
                                                  const std::string& url,
                                                  const std::vector<std::string>& domains,
                                                  const std::string& key, AutoLogin autoLogin);

  FinishCallback onFinish;

  void show() {
    if (window_) window_->show();
  }
  // Collects the store's cookies and ends with the sign-in result.
  void finishSignIn();
  void cancelSignIn();

  bool finished() const override { return finished_; }
  bool interactive() const { return !auto_; }
  int autoSteps() const { return autoSteps_; }
  const std::vector<std::string>& domains() const { return domains_; }
  const std::map<std::string, std::string>& typed() const { return typed_; }
  WebPage& page() { return *page_; }

  // The page scripts: the capture script of sign-in windows, the password probe, and the
  // script that fills in a login (the values go in as a JSON literal, so no character of
  // theirs can break out of it) and submits it, only in a page of `site`.
  static std::string captureScript();
  static std::string probeScript();
  static std::string fillScript(const std::string& username, const std::string& password,
                                const Site& site);
  // What the login pattern is matched against: the address's host followed by its path.
  static std::string addressText(const std::string& url);

  // SignInWindow::Events
  void loginMessage(const std::string& json) override;
  void finishPressed() override { finishSignIn(); }
  void cancelPressed() override { cancelSignIn(); }
  void windowClosed() override;
  void reloadPressed() override;
  bool mayOpenPopup() const override { return interactive() && !finished_; }
  // WebPage::Events
  void loadCommitted(const std::string& url) override;
  void pageStopped() override;

 private:
  SignInController(std::shared_ptr<EventLoop> loop, const std::string& url,
                   std::vector<std::string> domains, std::optional<AutoLogin> autoLogin);
  void begin(const std::string& url);
  void end(const std::optional<nlohmann::json>& result, const std::string& error);
  nlohmann::json result(const std::vector<Cookie>& cookies, const std::string& url,
                        const std::string& title) const;
  void autoStep();
  void decide(bool loginAddress, const std::optional<nlohmann::json>& probe);

  std::shared_ptr<EventLoop> loop_;
  std::shared_ptr<SignInWindow> window_;  // interactive only
  std::shared_ptr<WebPage> page_;
  std::vector<std::string> domains_;
  Site site_;
  std::map<std::string, std::string> typed_;  // "username", "password"
  std::optional<AutoLogin> auto_;
  std::unique_ptr<LoginPattern> pattern_;
  Timer autoTimer_;
  int autoSteps_ = 0;
  std::optional<Clock::time_point> autoLastStep_;  // none: no fill yet
  Clock::time_point autoDeadline_;
  bool finished_ = false;
  bool pageGone_ = false;  // the window's page stopped and was not loaded again
  std::string startUrl_;
};

}  // namespace brivok
