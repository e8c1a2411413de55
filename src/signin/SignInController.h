#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/SignInWindow.h"

namespace brivok {

// One sign-in to an outside site, in a window of its own on the website store of a sign-in
// key. Interactive (the user signs in and presses "I'm signed in") or automatic (the shell
// fills in a stored login; the window is never shown). Ends exactly once.
class SignInController : public SignInWindow::Events,
                         public std::enable_shared_from_this<SignInController> {
 public:
  struct AutoLogin {
    std::string username;
    std::string password;
    std::string loginPattern;
  };
  // (result or nothing, error text: empty on success)
  using FinishCallback =
      std::function<void(const std::optional<nlohmann::json>&, const std::string&)>;

  static std::shared_ptr<SignInController> create(SignInWindows& windows, const std::string& url,
                                                  const std::string& title,
                                                  const std::vector<std::string>& domains,
                                                  const std::string& key,
                                                  std::optional<AutoLogin> autoLogin);

  FinishCallback onFinish;

  void show() { window_->show(); }
  // Collects the store's cookies and ends with the sign-in result.
  void finishSignIn();
  void cancelSignIn() { window_->close(); }

  bool finished() const { return finished_; }
  bool interactive() const { return !auto_; }
  const std::vector<std::string>& domains() const { return domains_; }
  const std::map<std::string, std::string>& typed() const { return typed_; }
  SignInWindow& window() { return *window_; }

  // SignInWindow::Events
  void loginMessage(const std::string& json) override;
  void finishPressed() override { finishSignIn(); }
  void cancelPressed() override { cancelSignIn(); }
  void windowClosed() override;
  void committed(const std::string& url) override;
  bool mayOpenPopup() const override { return interactive() && !finished_; }

 private:
  SignInController(std::vector<std::string> domains, std::optional<AutoLogin> autoLogin)
      : domains_(std::move(domains)), auto_(std::move(autoLogin)) {}
  void end(const std::optional<nlohmann::json>& result, const std::string& error);
  nlohmann::json result(const std::vector<Cookie>& cookies, const std::string& url,
                        const std::string& title) const;

  std::shared_ptr<SignInWindow> window_;
  std::vector<std::string> domains_;
  std::map<std::string, std::string> typed_;  // "username", "password"
  std::optional<AutoLogin> auto_;
  bool finished_ = false;
};

}  // namespace brivok
