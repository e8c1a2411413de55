#include "signin/SignInController.h"

#include <algorithm>

#include "core/Json.h"
#include "core/Url.h"
#include "signin/SignInData.h"
#include "signin/SignInScripts.h"

namespace brivok {

SignInController::SignInController(std::shared_ptr<EventLoop> loop, const std::string& url,
                                   std::vector<std::string> domains,
                                   std::optional<AutoLogin> autoLogin)
    : loop_(std::move(loop)),
      domains_(std::move(domains)),
      auto_(std::move(autoLogin)),
      autoDeadline_(loop_->now() + kAutoDeadline) {
  site_ = Site::of(url, domains_);
}

SignInController::Site SignInController::Site::of(const std::string& url,
                                                  std::vector<std::string> domains) {
  Site site;
  if (const auto parsed = Url::parse(url); parsed && !parsed->host.empty()) {
    site.scheme = asciiLower(parsed->scheme);
    site.host = asciiLower(parsed->host);
    site.port = parsed->effectivePort();
  }
  site.domains = std::move(domains);
  return site;
}

bool SignInController::Site::contains(const std::string& url) const {
  const auto parsed = Url::parse(url);
  if (!parsed || parsed->host.empty() || host.empty()) return false;
  if (asciiLower(parsed->scheme) != scheme || parsed->effectivePort() != port) return false;
  const std::string here = asciiLower(parsed->host);
  if (here == host) return true;
  return std::any_of(domains.begin(), domains.end(), [&here](const std::string& domain) {
    if (domain.empty()) return false;
    if (isIpAddress(here) || isIpAddress(domain)) return here == domain;
    return isDomainOrSubdomain(here, domain);
  });
}

std::shared_ptr<SignInController> SignInController::create(
    SignInWindows& windows, std::shared_ptr<EventLoop> loop, const std::string& url,
    const std::string& title, const std::vector<std::string>& domains, const std::string& key) {
  std::shared_ptr<SignInController> self(
      new SignInController(std::move(loop), url, signin::lowerCased(domains), std::nullopt));
  SignInWindow::Options options;
  options.title = title;
  options.key = key;
  options.captureScript = captureScript();
  options.address = signin::addressLabel(url);
  options.secure = webScheme(urlScheme(url)) == WebScheme::Https;
  options.events = self;
  self->window_ = windows.open(options);
  self->page_ = self->window_->page();
  self->begin(url);
  return self;
}

std::shared_ptr<SignInController> SignInController::create(
    OffscreenPages& pages, std::shared_ptr<EventLoop> loop, const std::string& url,
    const std::vector<std::string>& domains, const std::string& key, AutoLogin autoLogin) {
  std::shared_ptr<SignInController> self(new SignInController(
      std::move(loop), url, signin::lowerCased(domains), std::move(autoLogin)));
  // Never shown: nothing of it may wait for a person.
  OffscreenPageOptions options;
  options.key = key;
  options.newWindowsInPlace = true;
  self->page_ = pages.open(options);
  self->pattern_ = std::make_unique<LoginPattern>(self->auto_->loginPattern);
  std::weak_ptr<SignInController> weak = self;
  self->autoTimer_ = Timer::every(self->loop_, kAutoStep, [weak] {
    if (auto controller = weak.lock()) controller->autoStep();
  });
  self->begin(url);
  return self;
}

std::function<std::shared_ptr<Job>(const JobRecord&, JobDone)> SignInController::jobRunner(
    std::shared_ptr<OffscreenPages> pages, std::shared_ptr<EventLoop> loop) {
  return [pages, loop](const JobRecord& job, JobDone done) -> std::shared_ptr<Job> {
    auto controller = create(*pages, loop, job.url, job.domains, job.key,
                             AutoLogin{job.username, job.password, job.loginPattern});
    controller->onFinish = std::move(done);
    return controller;
  };
}

void SignInController::begin(const std::string& url) {
  startUrl_ = url;
  page_->setEvents(weak_from_this());
  page_->load(url);
}

bool SignInController::acceptsAddress(const std::string& url) {
  const auto parsed = Url::parse(url);
  if (!parsed || parsed->host.empty()) return false;
  const WebScheme scheme = webScheme(parsed->scheme);
  return scheme == WebScheme::Https || (scheme == WebScheme::Http && isLoopbackHost(parsed->host));
}

std::string SignInController::captureScript() {
  return std::string("(() => {") + signin::scripts::kFields + signin::scripts::kCapture + "})();";
}

std::string SignInController::probeScript() {
  return std::string("(() => {") + signin::scripts::kFields + "return !!bvFields().password; })()";
}

std::string SignInController::fillScript(const std::string& username, const std::string& password,
                                         const Site& site) {
  std::string values;
  try {
    values = nlohmann::json::array({username, password}).dump();
  } catch (const nlohmann::json::exception&) {
    values = R"(["",""])";  // not UTF-8: nothing that could be typed
  }
  // The page may have moved on since it was looked at: the script itself checks where it
  // runs, with the document's own address, before it types anything.
  std::string where;
  try {
    where =
        nlohmann::json::array({site.scheme + ":", site.host, site.port.value_or(-1), site.domains})
            .dump();
  } catch (const nlohmann::json::exception&) {
    where = R"(["","",-1,[]])";
  }
  return std::string("(() => {") + signin::scripts::kFields +
         "  const [bvScheme, bvHost, bvPort, bvDomains] = " + where + signin::scripts::kOnSite +
         "  const [u, p] = " + values + signin::scripts::kFill + "})();";
}

std::string SignInController::addressText(const std::string& url) {
  const auto parsed = Url::parse(url);
  if (!parsed) return {};
  return parsed->host + percentDecoded(parsed->path);
}

void SignInController::loginMessage(const std::string& text) {
  if (finished_) return;
  // Logins are short; a site that posts megabytes on the channel is not sending one.
  const auto body = parseJsonObject(text, 64 * 1024);
  if (!body) return;
  // Only what is typed on the site itself is its login: not on an identity provider it sent
  // the user to, nor in a page it left for another.
  const auto* where = stringMember(*body, "url");
  if (!where || !site_.contains(*where)) return;
  for (const char* key : {"username", "password"}) {
    const auto it = body->find(key);
    // An empty value never blanks what was captured earlier: a two-step login sends the
    // username first and the password on the next page.
    if (it != body->end() && it->is_string() && !it->get_ref<const std::string&>().empty()) {
      typed_[key] = it->get<std::string>();
    }
  }
}

void SignInController::loadCommitted(const std::string& url) {
  // A stored login is for its own site only: a page elsewhere ends the sign-in at once.
  if (auto_ && !finished_ && !site_.contains(url)) {
    end(std::nullopt, kElsewhereError);
    return;
  }
  if (!window_) return;
  const auto parsed = Url::parse(url);
  window_->setAddress(parsed ? parsed->host : std::string(),
                      webScheme(urlScheme(url)) == WebScheme::Https);
}

void SignInController::finishSignIn() {
  // A page that is gone has no sign-in to hand over; the window offers to load it again.
  if (finished_ || pageGone_) return;
  const std::string url = page_->url();
  const std::string title = page_->title();
  std::weak_ptr<SignInController> weak = weak_from_this();
  if (auto_ && !site_.contains(url)) {
    end(std::nullopt, kElsewhereError);
    return;
  }
  page_->store().readCookies([weak, url, title](std::vector<Cookie> cookies) {
    auto self = weak.lock();
    if (!self || self->finished_) return;
    self->end(self->result(cookies, url, title), "");
  });
}

void SignInController::cancelSignIn() {
  if (window_) {
    window_->close();  // its closing ends the sign-in
  } else {
    end(std::nullopt, signin::kClosedError);
  }
}

nlohmann::json SignInController::result(const std::vector<Cookie>& cookies, const std::string& url,
                                        const std::string& title) const {
  nlohmann::json kept = nlohmann::json::array();
  for (const auto& cookie : cookies) {
    if (signin::cookieMatches(cookie.domain, domains_)) {
      kept.push_back(cookieDictionary(cookie));
    }
  }
  // What a site puts in its address or title may hold the stored password (a login form sent
  // by GET, a page titled with it); it never leaves the shell in a result.
  const std::string secret = auto_ ? auto_->password : std::string();
  nlohmann::json out = {{"cookies", std::move(kept)},
                        {"url", signin::withoutSecret(withoutUserinfo(url), secret)},
                        {"title", signin::withoutSecret(title, secret)}};
  if (interactive()) {
    const bool remember = window_->rememberLogin();
    out["remember"] = remember;
    if (remember && typed_.count("password")) out["login"] = typed_;
  }
  return out;
}

void SignInController::windowClosed() {
  end(std::nullopt, signin::kClosedError);
}

void SignInController::pageStopped() {
  if (finished_) return;
  if (!window_) {
    end(std::nullopt, kPageStoppedError);
    return;
  }
  pageGone_ = true;
  window_->showStopped(true);
}

void SignInController::reloadPressed() {
  if (finished_ || !pageGone_) return;
  pageGone_ = false;
  window_->showStopped(false);
  // Where the user was, as long as it is a web page; else where the sign-in began.
  const std::string here = page_->url();
  page_->load(webScheme(urlScheme(here)) != WebScheme::None ? here : startUrl_);
}

void SignInController::autoStep() {
  if (!auto_ || finished_) return;
  const auto now = loop_->now();
  // First of all, so a page that never stops loading still ends in time.
  if (now > autoDeadline_) {
    end(std::nullopt, kTimeoutError);
    return;
  }
  if (page_->isLoading()) return;
  if (autoLastStep_ && now - *autoLastStep_ < kAutoSettle) return;
  if (!site_.contains(page_->url())) {
    end(std::nullopt, kElsewhereError);
    return;
  }
  const bool loginAddress = pattern_->matches(addressText(page_->url()));
  std::weak_ptr<SignInController> weak = weak_from_this();
  page_->evaluate(probeScript(), [weak, loginAddress](std::optional<nlohmann::json> value) {
    if (auto self = weak.lock()) self->decide(loginAddress, value);
  });
}

void SignInController::decide(bool loginAddress, const std::optional<nlohmann::json>& probe) {
  if (finished_) return;
  const bool hasPassword = probe && probe->is_boolean() && probe->get<bool>();
  if (!loginAddress && !hasPassword) {
    finishSignIn();  // the site let the browser in
    return;
  }
  if (autoSteps_ < kAutoAttempts) {
    ++autoSteps_;
    autoLastStep_ = loop_->now();
    page_->evaluate(fillScript(auto_->username, auto_->password, site_), nullptr);
    return;
  }
  end(std::nullopt, kAttemptsError);
}

void SignInController::end(const std::optional<nlohmann::json>& result, const std::string& error) {
  if (finished_) return;
  finished_ = true;
  // The callback may drop the last owner; stay alive until this call is over.
  auto keep = shared_from_this();
  autoTimer_.cancel();
  if (window_) {
    window_->removeLoginChannel();
    window_->closePopups();
  }
  if (onFinish) onFinish(result, error);
  if (window_) {
    window_->close();
  } else {
    page_->close();  // the never-shown page and its web process go at once
  }
}

}  // namespace brivok
