#include "signin/SignInController.h"

#include "core/Json.h"
#include "core/Url.h"
#include "signin/SignInData.h"

namespace brivok {

std::shared_ptr<SignInController> SignInController::create(SignInWindows& windows,
                                                           const std::string& url,
                                                           const std::string& title,
                                                           const std::vector<std::string>& domains,
                                                           const std::string& key,
                                                           std::optional<AutoLogin> autoLogin) {
  std::shared_ptr<SignInController> self(
      new SignInController(signin::lowerCased(domains), std::move(autoLogin)));
  SignInWindow::Options options;
  options.url = url;
  options.title = title;
  options.storeId = signin::storeIdentifier(key);
  options.interactive = self->interactive();
  options.address = signin::addressLabel(url);
  options.events = self;
  self->window_ = windows.open(options);
  return self;
}

void SignInController::loginMessage(const std::string& text) {
  if (finished_) return;
  // Logins are short; a site that posts megabytes on the channel is not sending one.
  const auto body = parseJsonObject(text, 64 * 1024);
  if (!body) return;
  for (const char* key : {"username", "password"}) {
    const auto it = body->find(key);
    // An empty value never blanks what was captured earlier: a two-step login sends the
    // username first and the password on the next page.
    if (it != body->end() && it->is_string() && !it->get_ref<const std::string&>().empty()) {
      typed_[key] = it->get<std::string>();
    }
  }
}

void SignInController::committed(const std::string& url) {
  const auto parsed = Url::parse(url);
  window_->setAddress(parsed ? parsed->host : std::string());
}

void SignInController::finishSignIn() {
  if (finished_) return;
  const std::string url = window_->url();
  const std::string title = window_->title();
  std::weak_ptr<SignInController> weak = weak_from_this();
  window_->readCookies([weak, url, title](std::vector<Cookie> cookies) {
    auto self = weak.lock();
    if (!self || self->finished_) return;
    self->end(self->result(cookies, url, title), "");
  });
}

nlohmann::json SignInController::result(const std::vector<Cookie>& cookies, const std::string& url,
                                        const std::string& title) const {
  nlohmann::json kept = nlohmann::json::array();
  for (const auto& cookie : cookies) {
    if (signin::cookieMatches(cookie.domain, domains_)) {
      kept.push_back(signin::cookieDictionary(cookie));
    }
  }
  nlohmann::json out = {{"cookies", std::move(kept)}, {"url", url}, {"title", title}};
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

void SignInController::end(const std::optional<nlohmann::json>& result, const std::string& error) {
  if (finished_) return;
  finished_ = true;
  // The callback may drop the last owner; stay alive until this call is over.
  auto keep = shared_from_this();
  window_->removeLoginChannel();
  window_->closePopups();
  if (onFinish) onFinish(result, error);
  window_->close();
}

}  // namespace brivok
